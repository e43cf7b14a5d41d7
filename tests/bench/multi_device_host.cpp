// A recording host in one process for the multi-camera benchmark: loads the driver library once,
// opens one driver per device (as a real host runs them), starts the recording stream of each, counts
// the frames each delivers (nothing is stored), and when told to stop (stdin "stop", SIGINT, SIGTERM
// or --seconds) reports per device and for the process:
//
//   device <address> frames <n> bytes <n> signal-lost <n>
//   summary devices=N started=K window_s=.. cpu_window_s=.. cpu_total_s=.. rss_before_kb=.. rss_kb=..
//           threads_before=.. threads=.. start_s=.. stop_s=.. close_s=.. frames=.. log_errors=.. log_warnings=..
//
// cpu_window_s is the process CPU (user + system) from the moment every stream was started to the stop
// request; rss_kb and threads are read just before the streams are stopped; stop_s is the time the
// host's stop calls of all devices took, close_s that of closing and deleting every driver.
//
//   multi_device_host --first 127.0.1.1 --devices N [--port 80] [--seconds S] [--size 1280x720] [--fps 30]
//                     [--library PATH] [--record PREFIX] [--verbose]
//
// --record writes the first device's frames to PREFIX.frames and the monotonic time (ns) at which each
// reached OnFrame to PREFIX.times.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "host/HostInterfaces.h"
#include "support/HostLibrary.h"
#include "support/HostObjects.h"
#include "support/StreamSettings.h"

namespace {

using namespace norvale::ipcapture;
using zephrin::bench::AddressOf;
using zephrin::bench::StatusField;
using Clock = std::chrono::steady_clock;

std::atomic<bool> gStop{false};
// The main thread sleeps in poll until input, a signal or the end of the run: it is part of the CPU
// the benchmark reports, so it does not wake up on a timer of its own.
int gSignalPipe[2] = {-1, -1};
void OnSignal(int) {
  gStop = true;
  const char byte = 1;
  if (gSignalPipe[1] >= 0 && ::write(gSignalPipe[1], &byte, 1) < 0) {
  }
}

// A frame buffer whose memory is not cleared on allocation (a host reuses its buffers).
class PooledFrameBuffer : public FrameBuffer {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(PooledFrameBuffer);
  explicit PooledFrameBuffer(uint32_t capacity) : data_(new uint8_t[capacity]), capacity_(capacity) {}
  // The slots a recording host promises; the others are the contract's reserved places.
  void Reserved1() override {}
  uint8_t* GetData() override { return data_.get(); }
  void Reserved3() override {}
  void SetLength(uint32_t bytes) override { length_ = bytes; }
  void Reserved5() override {}
  void SetTime(const SystemTimeRecord* time) override {
    if (time) time_ = *time;
  }
  void Reserved7() override {}
  void Reserved8() override {}
  void Reserved9() override {}
  void SetCode(uint32_t fourCC) override { code_ = fourCC; }
  void Reserved11() override {}
  void SetHeight(uint16_t height) override { height_ = height; }
  void Reserved13() override {}
  void SetWidth(uint16_t width) override { width_ = width; }
  void Reserved15() override {}
  void SetSizeClass(uint32_t sizeClass) override { sizeClass_ = sizeClass; }

  uint32_t Capacity() const { return capacity_; }
  uint32_t Length() const { return length_; }
  void Reset(uint32_t code) {
    length_ = 0;
    time_ = {};
    frameType_ = 0;
    code_ = code;
    width_ = height_ = 0;
    sizeClass_ = 0;
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t capacity_;
  uint32_t length_ = 0;
  SystemTimeRecord time_{};
  uint32_t frameType_ = 0;
  uint32_t code_ = 0;
  uint16_t height_ = 0;
  uint16_t width_ = 0;
  uint32_t sizeClass_ = 0;
};

// One device's allocator: released buffers are kept and handed out again when they are big enough.
class PoolFrameAllocator : public FrameAllocator {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(PoolFrameAllocator);
  void Reserved1() override {}
  FrameBuffer* Allocate(uint32_t fourCC, uint32_t capacity, const char*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++outstanding_;
    for (size_t i = 0; i < free_.size(); ++i) {
      if (free_[i]->Capacity() >= capacity) {
        PooledFrameBuffer* buffer = free_[i].release();
        free_.erase(free_.begin() + static_cast<long>(i));
        buffer->Reset(fourCC);
        return buffer;
      }
    }
    auto* buffer = new PooledFrameBuffer(capacity);
    buffer->Reset(fourCC);
    return buffer;
  }
  void Reserved3() override {}
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(FrameBuffer* buffer) override {
    if (!buffer) return;
    std::lock_guard<std::mutex> lock(mutex_);
    --outstanding_;
    free_.emplace_back(static_cast<PooledFrameBuffer*>(buffer));
    if (free_.size() > 4) free_.erase(free_.begin());
  }
  long Outstanding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<PooledFrameBuffer>> free_;
  long outstanding_ = 0;
};

class CountingFrameSink : public FrameSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CountingFrameSink);
  bool OnFrame(FrameBuffer* frame) override {
    if (!frame) return false;
    frames.fetch_add(1, std::memory_order_relaxed);
    auto* buffer = static_cast<PooledFrameBuffer*>(frame);
    bytes.fetch_add(buffer->Length(), std::memory_order_relaxed);
    if (times) {
      const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
      std::fprintf(times, "%lld\n", static_cast<long long>(now.count()));
    }
    if (dump) std::fwrite(buffer->GetData(), 1, buffer->Length(), dump);
    return true;
  }
  void Reserved2() override {}
  void OnSignalLost() override { signalLost.fetch_add(1, std::memory_order_relaxed); }

  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<uint64_t> signalLost{0};
  FILE* times = nullptr;  // --record: the monotonic time of each frame, in ns
  FILE* dump = nullptr;   // --record: the frames' bytes
};

// Counts the driver's log lines by level; errors and warnings are echoed (the first few, or all with
// --verbose) with the device they came from.
class CountingLogSink : public LogSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CountingLogSink);
  CountingLogSink(std::string device, bool verbose) : device_(std::move(device)), verbose_(verbose) {}
  void Write(const CDebugInfoIf* record) override {
    if (!record) return;
    const uint8_t level = record->GetLevel();
    if (level == 1) errors.fetch_add(1);
    if (level == 2) warnings.fetch_add(1);
    if (verbose_ || ((level == 1 || level == 2) && echoed_.fetch_add(1) < 20)) {
      const char* text = record->GetText();
      std::fprintf(stderr, "[%s %u] %s\n", device_.c_str(), level, text ? text : "");
    }
  }
  std::atomic<uint64_t> errors{0};
  std::atomic<uint64_t> warnings{0};

 private:
  static std::atomic<int> echoed_;
  std::string device_;
  bool verbose_;
};
std::atomic<int> CountingLogSink::echoed_{0};

struct Device {
  std::string address;
  zephrin::test::TestDeviceSource source;
  zephrin::test::TestStreamSettings settings;
  std::unique_ptr<CountingLogSink> log;
  PoolFrameAllocator allocator;
  CountingFrameSink sink;
  IIPCaptureDriverEx5* driver = nullptr;
  IIPVideoCaptureEx2* capture = nullptr;
  bool opened = false;
  bool started = false;
};

double CpuSeconds() { return zephrin::bench::ProcessCpu().Total(); }

double Since(Clock::time_point begin) { return std::chrono::duration<double>(Clock::now() - begin).count(); }

}  // namespace

int main(int argc, char** argv) {
  std::string first = "127.0.1.1";
  std::string library = zephrin::test::HostLibrary::BinPath("Zephrin");
  int count = 1;
  int port = 80;
  double seconds = 0;
  int width = 1280, height = 720, fps = 30;
  bool verbose = false;
  std::string record;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verbose") {
      verbose = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "multi_device_host: %s needs a value\n", arg.c_str());
      return 2;
    }
    const char* v = argv[++i];
    if (arg == "--first")
      first = v;
    else if (arg == "--devices")
      count = std::atoi(v);
    else if (arg == "--port")
      port = std::atoi(v);
    else if (arg == "--seconds")
      seconds = std::atof(v);
    else if (arg == "--library")
      library = v;
    else if (arg == "--record")
      record = v;
    else if (arg == "--fps")
      fps = std::atoi(v);
    else if (arg == "--size") {
      if (std::sscanf(v, "%dx%d", &width, &height) != 2) width = 0;
    } else {
      std::fprintf(stderr, "multi_device_host: unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (count < 1 || port < 1 || port > 65535 || fps < 1 || width < 1 || height < 1) {
    std::fprintf(stderr,
                 "usage: multi_device_host --first A --devices N [--port P] [--seconds S] [--size WxH] "
                 "[--fps F] [--library PATH] [--record PREFIX] [--verbose]\n");
    return 2;
  }
  if (::pipe(gSignalPipe) != 0) gSignalPipe[0] = gSignalPipe[1] = -1;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  const long rssBefore = StatusField("VmRSS");
  const long threadsBefore = StatusField("Threads");
  zephrin::test::HostLibrary host = zephrin::test::HostLibrary::FromPath(library);
  if (!host.IsLoaded()) {
    std::fprintf(stderr, "multi_device_host: cannot load %s: %s\n", library.c_str(), host.Error().c_str());
    return 3;
  }
  auto create = host.Function<CreateIPCaptureFn>("CreateIPCaptureEx5");
  auto destroy = host.Function<DeleteObjectFn>("DeleteIPCaptureEx5");
  if (!create || !destroy) {
    std::fprintf(stderr, "multi_device_host: %s lacks the driver exports\n", library.c_str());
    return 3;
  }

  std::vector<std::unique_ptr<Device>> devices;
  const auto startBegin = Clock::now();
  for (int i = 0; i < count; ++i) {
    auto d = std::make_unique<Device>();
    d->address = AddressOf(first, i);
    d->log = std::make_unique<CountingLogSink>(d->address, verbose);
    d->source.camera.model = "ELMO";
    d->source.connection.address = d->address;
    d->source.connection.port = static_cast<uint16_t>(port);
    d->source.connection.defaultCodec = CodecH264;
    // The host parameters a capability query of the simulated PTZ dome gives (video standard, series,
    // resolutions, frame-rate option), as the host hands them back.
    d->source.SetParam(1, "1");
    d->source.SetParam(2, "3");
    d->source.SetParam(8, "720p,d1,vga,cif,qvga");
    d->source.SetParam(9, "0");
    d->settings.format.resolution = {static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
    d->settings.format.codec = CodecH264;
    d->settings.rate.frameInterval = static_cast<uint16_t>((1000 + fps / 2) / fps);
    d->settings.rate.quality = 70;
    if (i == 0 && !record.empty()) {
      d->sink.times = std::fopen((record + ".times").c_str(), "w");
      d->sink.dump = std::fopen((record + ".frames").c_str(), "wb");
    }
    d->driver = create();
    if (d->driver && d->driver->Open(d->log.get(), &d->allocator, &d->source)) {
      d->opened = true;
      d->capture = d->driver->GetVideoCaptureEx2();
      d->started = d->capture && d->capture->StartCapture(0, &d->sink, &d->settings);
    }
    if (!d->started) std::fprintf(stderr, "multi_device_host: device %s did not start streaming\n", d->address.c_str());
    devices.push_back(std::move(d));
  }
  const double startSeconds = Since(startBegin);
  int started = 0;
  for (const auto& d : devices) started += d->started ? 1 : 0;
  std::printf("started %d of %d devices in %.2f s\n", started, count, startSeconds);
  std::fflush(stdout);

  const double cpuStarted = CpuSeconds();
  const auto windowBegin = Clock::now();
  std::string input;
  bool inputOpen = true;
  while (!gStop && (seconds <= 0 || Since(windowBegin) < seconds)) {
    pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {inputOpen ? 0 : -1, POLLIN, 0}};
    const int timeout = seconds <= 0 ? -1 : std::max(0, static_cast<int>((seconds - Since(windowBegin)) * 1000) + 1);
    if (::poll(fds, 2, timeout) <= 0 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buffer[128];
    const ssize_t got = ::read(0, buffer, sizeof buffer);
    if (got <= 0)
      inputOpen = false;
    else
      input.append(buffer, static_cast<size_t>(got));
    if (input.find("stop") != std::string::npos) break;
  }
  const double window = Since(windowBegin);
  const double cpuWindow = CpuSeconds() - cpuStarted;
  const long rss = StatusField("VmRSS");
  const long threads = StatusField("Threads");

  const auto stopBegin = Clock::now();
  for (auto& d : devices)
    if (d->opened && d->capture) d->capture->StopCapture(0);
  const double stopSeconds = Since(stopBegin);
  const auto closeBegin = Clock::now();
  for (auto& d : devices) {
    if (!d->driver) continue;
    d->driver->Close();
    destroy(d->driver);
    d->driver = nullptr;
  }
  const double closeSeconds = Since(closeBegin);
  for (auto& d : devices)
    for (FILE* file : {d->sink.times, d->sink.dump})
      if (file) std::fclose(file);

  uint64_t frames = 0, errors = 0, warnings = 0;
  long outstanding = 0;
  for (const auto& d : devices) {
    std::printf("device %s frames %llu bytes %llu signal-lost %llu\n", d->address.c_str(),
                static_cast<unsigned long long>(d->sink.frames.load()),
                static_cast<unsigned long long>(d->sink.bytes.load()),
                static_cast<unsigned long long>(d->sink.signalLost.load()));
    frames += d->sink.frames;
    errors += d->log->errors;
    warnings += d->log->warnings;
    outstanding += d->allocator.Outstanding();
  }
  std::printf(
      "summary devices=%d started=%d window_s=%.3f cpu_window_s=%.3f cpu_total_s=%.3f rss_before_kb=%ld "
      "rss_kb=%ld threads_before=%ld threads=%ld start_s=%.3f stop_s=%.3f close_s=%.3f frames=%llu "
      "log_errors=%llu log_warnings=%llu buffers_outstanding=%ld\n",
      count, started, window, cpuWindow, CpuSeconds(), rssBefore, rss, threadsBefore, threads, startSeconds,
      stopSeconds, closeSeconds, static_cast<unsigned long long>(frames), static_cast<unsigned long long>(errors),
      static_cast<unsigned long long>(warnings), outstanding);
  return started == count ? 0 : 1;
}
