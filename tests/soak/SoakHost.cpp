// zephrin-soak-host: a recording host that keeps several simulated cameras streaming for minutes while
// faults cycle through them, and reports what a host operator would look at afterwards: frames
// delivered against frames the cameras sent while no fault was active, frame buffers still out, file
// descriptors and threads before and after, memory over time and its slope after the warm-up, and the
// longest call into the driver.
//
// It loads libZephrin.so as the host does (dlopen). The host is rude (tests/support/RudeHost.h): its
// callbacks block past the stop limits, call the driver from inside, or have another thread call it,
// by a seeded choice; --polite turns that off. Its frame allocator and the rude objects only count, so
// that memory over time is the driver's. Each camera is a zephrin-camsim process on its own loopback
// address (RTSP on port 554, so it needs root).
//
//   zephrin-soak-host [--cameras N] [--minutes M] [--warmup M] [--first-address 161] [--seed S] [--polite]
//                     [--block-ms MS]   (how long a blocking callback holds; by default past every limit)
//                     [--fresh-frames]  (new memory for every frame instead of reused buffers)
//                     [--close-in-callbacks]   (also Close and delete the driver from inside callbacks)
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/CamSimProcess.h"
#include "support/CapabilityRecorder.h"
#include "support/HostLibrary.h"
#include "support/HostObjects.h"
#include "support/ProcessCounts.h"
#include "support/RudeHost.h"
#include "support/RudeSession.h"

namespace {

using namespace norvale::ipcapture;
using zephrin::test::CamSimProcess;
using zephrin::test::HostLibrary;
using zephrin::test::OpenFiles;
using zephrin::test::RudeCapabilityCallback;
using zephrin::test::RudeCapabilitySink;
using zephrin::test::RudeHost;
using zephrin::test::RudeSession;
using zephrin::test::TestDeviceSource;
using zephrin::test::TestFrameBuffer;
using zephrin::test::Threads;
using Clock = std::chrono::steady_clock;

std::mutex gPrintMutex;
const Clock::time_point gStart = Clock::now();

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) {
  std::lock_guard<std::mutex> lock(gPrintMutex);
  std::printf("[%7.1f s] ", Since(gStart));
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

// What the allocator has handed out and not taken back (in its arenas and mapped apart): RSS growing
// while this stays flat is memory the allocator keeps, not memory the program holds.
size_t HeapInUseKiB() {
  const struct mallinfo2 info = mallinfo2();
  return (info.uordblks + info.hblkhd) / 1024;
}

// Resident memory, in all and without its file-backed part (code and data of the libraries, paged in as
// their paths first run), from one reading.
struct Resident {
  size_t allKiB = 0, privateKiB = 0;
};
Resident ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0, fileBacked = 0;
  statm >> pages >> resident >> fileBacked;
  const size_t pageKiB = static_cast<size_t>(sysconf(_SC_PAGESIZE)) / 1024;
  return {resident * pageKiB, (resident - std::min(resident, fileBacked)) * pageKiB};
}

// Least-squares slope of the RSS samples taken after the warm-up, in KiB per minute.
std::string Slope(const std::vector<std::pair<double, size_t>>& samples, double fromSeconds) {
  double n = 0, st = 0, sr = 0, stt = 0, str = 0;
  for (const auto& [t, kib] : samples) {
    if (t < fromSeconds) continue;
    const double minutes = t / 60, r = static_cast<double>(kib);
    n += 1;
    st += minutes;
    sr += r;
    stt += minutes * minutes;
    str += minutes * r;
  }
  if (n < 3 || n * stt - st * st <= 0) return "not measured (fewer than 3 samples after the warm-up)";
  char text[96];
  std::snprintf(text, sizeof text, "%.1f KiB/min over %.0f samples", (n * str - st * sr) / (n * stt - st * st), n);
  return text;
}

// The longest a host call may take: a stop gives each thread it ends twice the network time-out
// (5 s by default), and the parts of a stream end one after another inside that.
constexpr double kHostCallLimitMs = 2 * 5000 + 5000;

// The host parameters a capability query reports for the two simulated models used.
struct Profile {
  const char* name;
  const char* model;
  std::vector<std::pair<uint32_t, std::string>> params;
};
// CGI oddities of the simulator, one per round.
const char* const kHttpOddities[] = {
    "/camsim/fault?path=*&slow=30",       "/camsim/fault?path=*&delay=4000",
    "/camsim/fault?path=*&empty=1",       "/camsim/fault?path=*&close=1",
    "/camsim/fault?path=*&runtogether=1", "/camsim/fault?path=*&body=%00%FF%0Agarbage=%ZZ",
};

const Profile kProfiles[] = {
    {"ptz-dome", "ELMO DH620", {{1, "1"}, {2, "3"}, {3, "DH620"}, {4, "2.4.1"}, {8, "720p,d1,vga,cif,qvga"}, {9, "0"}}},
    {"nh222", "ELMO NH222", {{1, "0"}, {2, "6"}, {3, "NH222"}, {4, "1.5.2"}, {8, "d1,vga,cif,qvga"}, {9, "0"}}},
};

// The host's frame allocator for a long run: hands out the test frame buffers and counts them, but
// keeps no record per frame, so that the process's memory over time is the driver's own. Like a
// recording host's buffer ring, it keeps the memory of released buffers of the driver's size
// classes for the next frames (--fresh-frames: new memory for every frame, freed at its release;
// the allocator then takes a share of the driver's threads' heap arenas of its own).
class SoakFrameAllocator : public FrameAllocator {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(SoakFrameAllocator);
  ~SoakFrameAllocator() override {
    for (TestFrameBuffer* buffer : outstanding_) DeleteObject(buffer);
  }
  void Reserved1() override { ++unlisted_; }
  explicit SoakFrameAllocator(bool fresh) : fresh_(fresh) {}
  FrameBuffer* Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) override {
    const bool kept = !fresh_ && capacity <= kLargestKept;
    auto* buffer = new TestFrameBuffer(fourCC, kept ? 0 : capacity, stream ? stream : "");
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept) {
      std::vector<std::vector<uint8_t>>& spare = spare_[capacity];
      if (!spare.empty()) {
        buffer->data.swap(spare.back());
        spare.pop_back();
      }
      buffer->data.resize(capacity);
      buffer->capacity = capacity;
    }
    outstanding_.insert(buffer);
    return buffer;
  }
  void Reserved3() override { ++unlisted_; }
  void Reserved4() override { ++unlisted_; }
  void Reserved5() override { ++unlisted_; }
  void Release(FrameBuffer* buffer) override {
    // Only a buffer this allocator handed out is one of its own and can be freed.
    TestFrameBuffer* own = static_cast<TestFrameBuffer*>(buffer);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (outstanding_.erase(own) == 0) {
        ++badReleases_;  // never handed out, or released twice: left alone
        return;
      }
      if (!fresh_ && own->capacity <= kLargestKept) spare_[own->capacity].push_back(std::move(own->data));
    }
    DeleteObject(own);
  }
  size_t Outstanding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_.size();
  }
  bool Holds(const FrameBuffer* buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_.count(static_cast<TestFrameBuffer*>(const_cast<FrameBuffer*>(buffer))) > 0;
  }
  size_t BadReleases() const { return badReleases_; }
  size_t Unlisted() const { return unlisted_; }

 private:
  static constexpr uint32_t kLargestKept = 1u << 17;
  const bool fresh_;
  std::mutex mutex_;
  std::set<TestFrameBuffer*> outstanding_;
  std::map<uint32_t, std::vector<std::vector<uint8_t>>> spare_;  // by capacity
  std::atomic<size_t> badReleases_{0};
  std::atomic<size_t> unlisted_{0};
};

struct Options {
  int cameras = 4;
  double minutes = 10;
  double warmup = -1;  // minutes; by default 10, or a third of a shorter run
  int firstAddress = 161;
  unsigned seed = 1;
  bool polite = false;
  bool closeInCallbacks = false;
  long blockMs = -1;  // how long a rude callback blocks; by default longer than any stop limit
  bool freshFrames = false;
};

RudeHost::Options Rudeness(const Options& options, int index) {
  RudeHost::Options rude;
  rude.seed = options.seed * 7919u + static_cast<unsigned>(index);
  rude.reenterPerMille = 100;
  rude.concurrentPerMille = 60;
  if (options.blockMs >= 0) rude.blockMs = static_cast<uint32_t>(options.blockMs);
  if (options.polite) rude.blockPerMille = rude.reenterPerMille = rude.concurrentPerMille = 0;
  return rude;
}

// One camera with its own driver, as a host holds one device.
class Slot {
 public:
  Slot(int index, const Options& options, HostLibrary& library)
      : index_(index),
        profile_(kProfiles[index % 2]),
        rng_(options.seed * 7919u + static_cast<unsigned>(index)),
        allocator_(options.freshFrames),
        rude_(Rudeness(options, index)),
        session_(rude_, library.Function<CreateIPCaptureFn>("CreateIPCaptureEx5"),
                 library.Function<DeleteObjectFn>("DeleteIPCaptureEx5"), &device_, &allocator_) {
    address_ = "127.0.0." + std::to_string(options.firstAddress + index);
    createQuery_ = library.Function<CreateCapabilityQueryModuleFn>("CreateCapabilityQueryModule");
    deleteQuery_ = library.Function<DeleteObjectFn>("DeleteCapabilityQueryModule");
    camOptions_.address = address_;
    camOptions_.httpPort = 80;  // the device's port must survive a restart of the camera
    camOptions_.rtsp = true;
    camOptions_.profile = profile_.name;
    camOptions_.user = "operator";
    camOptions_.password = "secret";
    device_.connection.address = address_;
    device_.connection.port = 80;
    device_.connection.user = "operator";
    device_.connection.password = "secret";
    device_.camera.model = profile_.model;
    for (const auto& [number, text] : profile_.params) device_.SetParam(number, text);
    session_.closeInCallbacks = options.closeInCallbacks;
  }

  bool StartCamera() {
    for (int attempt = 0; attempt < 5; ++attempt) {
      camera_ = std::make_unique<CamSimProcess>(camOptions_);
      if (camera_->Ready()) return true;
      Print("camera %s did not start (%s), retrying", address_.c_str(), camera_->Error().c_str());
      camera_.reset();
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return false;
  }
  void StopCamera() {
    if (camera_) camera_->Stop();
    camera_.reset();
  }

  bool OpenDriver() {
    if (session_.Open()) return true;
    Print("camera %s: the driver did not open", address_.c_str());
    return false;
  }
  void CloseDriver(const char* why) { session_.Delete(why); }
  bool StartStream() { return session_.StartCapture(); }
  void StopStream(const char* why) { session_.StopCapture(why); }

  // Frames the camera sent on all its streams, and how many streams it lists; false when the
  // camera did not answer.
  bool CameraSent(uint64_t* frames, size_t* streams) {
    std::string body;
    if (!camera_ || !camera_->Control("/camsim/status", &body)) return false;
    *frames = 0;
    *streams = 0;
    static const std::string kKey = "\"frames_sent\": ";
    for (size_t at = body.find(kKey); at != std::string::npos; at = body.find(kKey, at + 1)) {
      *frames += std::strtoull(body.c_str() + at + kKey.size(), nullptr, 10);
      ++*streams;
    }
    return true;
  }

  // Waits, but gives up early when the run ends.
  void Wait(double seconds) {
    const auto end = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    while (Clock::now() < end && !done_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  // A window without faults: frames the host received against frames the camera sent.
  // The host is polite meanwhile, and the stream is started afresh (a rude call may have stopped it).
  void CleanWindow(double settle, double length) {
    rude_.SetQuiet(true);
    struct Loud {
      RudeHost& host;
      ~Loud() { host.SetQuiet(false); }
    } loud{rude_};
    if (!session_.IsOpen()) OpenDriver();
    const bool started = StartStream();
    Wait(settle);
    if (done_) return;
    uint64_t sent0 = 0, sent1 = 0;
    size_t streams0 = 0, streams1 = 0;
    if (!CameraSent(&sent0, &streams0)) return;
    const size_t got0 = session_.Sink().frames;
    Wait(length);
    if (done_) return;
    const size_t got1 = session_.Sink().frames;
    if (!CameraSent(&sent1, &streams1) || streams1 != streams0 || sent1 < sent0) {
      ++unmeasured_;
      return;
    }
    if (sent1 == sent0) {
      ++idle_;
      Print(
          "camera %s: no video in a window without faults (the camera sent nothing: the stream is not running; "
          "the host's start of it returned %s); the driver's last lines:",
          address_.c_str(), started ? "true" : "false");
      for (const std::string& line : session_.Log().Recent()) Print("  %.300s", line.c_str());
      return;
    }
    cleanSent_ += sent1 - sent0;
    cleanGot_ += got1 - got0;
    ++windows_;
    const double ratio =
        sent1 > sent0 ? 100.0 * static_cast<double>(got1 - got0) / static_cast<double>(sent1 - sent0) : 0;
    if (ratio < 90)
      Print("camera %s: clean window delivered %zu of %" PRIu64 " frames (%.1f %%)", address_.c_str(), got1 - got0,
            sent1 - sent0, ratio);
  }

  void Fault(int kind) {
    switch (kind) {
      case 0: {
        Print("camera %s: restarting the camera process", address_.c_str());
        StopCamera();
        Wait(3);
        StartCamera();
        break;
      }
      case 1:
        Print("camera %s: RTSP connection closed by the camera", address_.c_str());
        camera_->Control("/camsim/rtsp-fault?path=*&close=1");
        Wait(5);
        break;
      case 2:
        Print("camera %s: video stalls for 13 s (longer than the stream time-out)", address_.c_str());
        camera_->Control("/camsim/rtsp-fault?path=*&stall=13");
        Wait(14);
        break;
      case 3:
        Print("camera %s: packet loss (every 9th) and reordering (every 5th) for 15 s", address_.c_str());
        camera_->Control("/camsim/rtsp-fault?path=*&drop=9&reorder=5");
        Wait(15);
        camera_->Control("/camsim/rtsp-fault?clear=1");
        break;
      case 4:
        Print("camera %s: CGI requests hang; the stream restarts into it", address_.c_str());
        camera_->Control("/camsim/fault?path=*&hang=40");
        StopStream("stop while CGI hangs");
        StartStream();
        Wait(12);
        StopStream("stop during a hung settings round");
        camera_->Control("/camsim/fault?clear=1");
        StartStream();
        break;
      case 5:
        Print("camera %s: CGI answers trickle with interim answers first; the stream restarts into it",
              address_.c_str());
        camera_->Control("/camsim/fault?path=*&interim=2&trickle=150");
        StopStream("stop before a trickled settings round");
        StartStream();
        Wait(15);
        camera_->Control("/camsim/fault?clear=1");
        break;
      case 6:
        Print("camera %s: the host's frame sink stalls 3 s per frame; the stream is stopped meanwhile",
              address_.c_str());
        session_.Sink().stallMs = 3000;
        Wait(5);
        StopStream("stop while the frame sink stalls");
        session_.Sink().stallMs = 0;
        StartStream();
        break;
      case 7:
        Print("camera %s: stream stopped and started five times", address_.c_str());
        for (int i = 0; i < 5 && !done_; ++i) {
          StopStream("stop/start cycle");
          Wait(0.3 * (i % 3));
          StartStream();
          Wait(1);
        }
        break;
      case 8:
        Print("camera %s: driver closed and reopened", address_.c_str());
        CloseDriver("close/reopen cycle");
        Wait(1);
        if (OpenDriver()) StartStream();
        break;
      case 9:
        Print("camera %s: capability query while the brand holds a NUL, a control byte and a path", address_.c_str());
        camera_->Control("/camsim/param?Brand.Brand=Dyna%00co%01lor%2F..%2Fx");
        CapabilityQuery();
        camera_->Control("/camsim/param?Brand.Brand=ELMO");
        break;
      case 10:
        Print("camera %s: CGI answers 503 and RTSP refuses DESCRIBE and SETUP; the stream restarts into it",
              address_.c_str());
        camera_->Control("/camsim/fault?path=*&status=503&count=20");
        camera_->Control("/camsim/rtsp-fault?refuse=DESCRIBE:503&count=3");
        camera_->Control("/camsim/rtsp-fault?refuse=SETUP:503&count=2");
        StopStream("stop before refused requests");
        StartStream();
        Wait(15);
        camera_->Control("/camsim/fault?clear=1");
        camera_->Control("/camsim/rtsp-fault?clear=1");
        break;
      case 11:
        Print("camera %s: CGI answers slow, delayed, empty, cut off or run together; the stream restarts into it",
              address_.c_str());
        camera_->Control(kHttpOddities[rng_() % (sizeof kHttpOddities / sizeof *kHttpOddities)]);
        StopStream("stop before odd settings answers");
        StartStream();
        Wait(12);
        camera_->Control("/camsim/fault?clear=1");
        break;
      case 12:
        Print("camera %s: digital input toggles and PTZ commands for 10 s", address_.c_str());
        for (int i = 0; i < 20 && !done_; ++i) {
          camera_->Control("/camsim/input?port=1&state=" + std::to_string(i % 2));
          session_.Perform(RudeHost::Call::Ptz, false);
          session_.Perform(RudeHost::Call::Output, false);
          Wait(0.5);
        }
        break;
      case 13:
        Print("camera %s: video stops 3 s after PLAY, and the connection closes 8 s after the next PLAY",
              address_.c_str());
        camera_->Control("/camsim/rtsp-fault?path=*&stall=10&after=3&count=1");
        StopStream("stop before a delayed stall");
        StartStream();
        Wait(14);
        camera_->Control("/camsim/rtsp-fault?path=*&close=1&after=8&count=1");
        Wait(10);
        camera_->Control("/camsim/rtsp-fault?clear=1");
        break;
    }
  }

  // One capability query's host objects. A rude callback of the query may end its module from inside;
  // they live until the next query of the camera, as a callback may still be held in the host then.
  struct CapabilityRun {
    CapabilityRun(RudeHost& rude, DeleteObjectFn deleteQuery)
        : deleteQuery(deleteQuery), callback(rude, [this] { End(); }), sink(rude, [this] { End(); }) {}
    void End() {
      std::unique_lock<std::mutex> lock(mutex);
      IIPCapabilityQuery* const ended = std::exchange(query, nullptr);
      lock.unlock();
      if (ended) deleteQuery(ended);
    }
    DeleteObjectFn deleteQuery;
    std::mutex mutex;  // held by the host's Start too
    IIPCapabilityQuery* query = nullptr;
    RudeCapabilityCallback callback;
    RudeCapabilitySink sink;
  };

  // One capability query as a host runs it when a camera is added: exactly one outcome is told.
  void CapabilityQuery() {
    if (!createQuery_ || !deleteQuery_) return;
    capability_.reset();
    capability_ = std::make_unique<CapabilityRun>(rude_, deleteQuery_);
    CapabilityRun& run = *capability_;
    std::unique_lock<std::mutex> lock(run.mutex);
    run.query = createQuery_(&run.callback, 0);
    if (!run.query) {
      ++queryAnomalies_;
      return;
    }
    ++queries_;
    const bool started = run.query->Start(address_.c_str(), 80, "operator", "secret", &run.sink) == 1;
    lock.unlock();
    if (started)
      run.callback.WaitForOutcome(30000);
    else
      Print("camera %s: the capability query did not start", address_.c_str());
    run.End();
    if (run.callback.Outcomes() != 1) {
      ++queryAnomalies_;
      Print("camera %s: the capability query told %zu outcomes", address_.c_str(), run.callback.Outcomes());
    }
  }

  void Run() {
    if (!OpenDriver() || !StartStream()) return;
    std::vector<int> kinds = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    size_t next = kinds.size();
    while (!done_) {
      CleanWindow(12, 15);
      if (done_) break;
      if (next == kinds.size()) {
        std::shuffle(kinds.begin(), kinds.end(), rng_);
        next = 0;
      }
      if (!camera_ && !StartCamera()) break;
      Fault(kinds[next++]);
      ++faults_;
    }
  }

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Finish() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    session_.Sink().stallMs = 0;
    rude_.Calm();
    CloseDriver("end of run");
  }

  const std::string& Address() const { return address_; }
  SoakFrameAllocator& Allocator() { return allocator_; }
  RudeSession& Session() { return session_; }
  RudeHost& Rude() { return rude_; }
  uint64_t CleanSent() const { return cleanSent_; }
  uint64_t CleanGot() const { return cleanGot_; }
  int Windows() const { return windows_; }
  int Unmeasured() const { return unmeasured_; }
  int Idle() const { return idle_; }
  int Queries() const { return queries_; }
  int QueryAnomalies() const { return queryAnomalies_; }
  int Faults() const { return faults_; }
  bool HasCamera() const { return camera_ != nullptr; }

 private:
  int index_;
  const Profile& profile_;
  std::mt19937 rng_;
  std::string address_;
  CreateCapabilityQueryModuleFn createQuery_ = nullptr;
  DeleteObjectFn deleteQuery_ = nullptr;
  CamSimProcess::Options camOptions_;
  std::unique_ptr<CamSimProcess> camera_;
  TestDeviceSource device_;
  SoakFrameAllocator allocator_;
  RudeHost rude_;
  RudeSession session_;
  std::unique_ptr<CapabilityRun> capability_;  // the last capability query's host objects
  std::atomic<bool> done_{false};
  std::thread thread_;
  uint64_t cleanSent_ = 0;
  uint64_t cleanGot_ = 0;
  int windows_ = 0;
  int unmeasured_ = 0;
  int idle_ = 0;
  int faults_ = 0;
  int queries_ = 0;
  int queryAnomalies_ = 0;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--cameras" && value) {
      options.cameras = std::atoi(value);
      ++i;
    } else if (arg == "--minutes" && value) {
      options.minutes = std::atof(value);
      ++i;
    } else if (arg == "--first-address" && value) {
      options.firstAddress = std::atoi(value);
      ++i;
    } else if (arg == "--warmup" && value) {
      options.warmup = std::atof(value);
      ++i;
    } else if (arg == "--block-ms" && value) {
      options.blockMs = std::atol(value);
      ++i;
    } else if (arg == "--fresh-frames") {
      options.freshFrames = true;
    } else if (arg == "--polite") {
      options.polite = true;
    } else if (arg == "--close-in-callbacks") {
      options.closeInCallbacks = true;
    } else if (arg == "--seed" && value) {
      options.seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
      ++i;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--cameras N] [--minutes M] [--warmup M] [--first-address 161] [--seed S] [--polite] "
                   "[--block-ms MS] [--fresh-frames] [--close-in-callbacks]\n",
                   argv[0]);
      std::exit(2);
    }
  }
  if (options.cameras < 1 || options.cameras > 50 || options.firstAddress < 2 ||
      options.firstAddress + options.cameras > 255 || options.minutes <= 0) {
    std::fprintf(stderr, "zephrin-soak-host: 1 to 50 cameras on 127.0.0.2 to 127.0.0.254, and a positive time\n");
    std::exit(2);
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (geteuid() != 0) {
    std::fprintf(stderr, "zephrin-soak-host: needs root (each simulated camera listens on RTSP port 554)\n");
    return 2;
  }
  HostLibrary library("Zephrin");
  if (!library.IsLoaded()) {
    std::fprintf(stderr, "zephrin-soak-host: %s\n", library.Error().c_str());
    return 2;
  }
  std::vector<std::unique_ptr<Slot>> slots;
  for (int i = 0; i < options.cameras; ++i) {
    slots.push_back(std::make_unique<Slot>(i, options, library));
    if (!slots.back()->StartCamera()) {
      std::fprintf(stderr, "zephrin-soak-host: camera %s did not start\n", slots.back()->Address().c_str());
      return 2;
    }
  }
  // Cameras run, no driver is open yet: what the process holds of its own.
  const size_t fdsBefore = OpenFiles();
  // Less the rude hosts' own gate threads, which end when the hosts calm down at the end of the run.
  const size_t threadsBefore = Threads() - slots.size();
  Print("soak: %d cameras for %.1f minutes; %zu file descriptors, %zu threads, RSS %zu KiB", options.cameras,
        options.minutes, fdsBefore, threadsBefore, ResidentKiB().allKiB);

  for (auto& slot : slots) slot->Start();
  const auto end = gStart + std::chrono::milliseconds(static_cast<int64_t>(options.minutes * 60000));
  std::vector<std::pair<double, size_t>> rss, heap, privateRss;
  while (Clock::now() < end) {
    std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::seconds(30), end - Clock::now()));
    size_t frames = 0;
    for (auto& slot : slots) frames += slot->Session().Sink().frames;
    const Resident resident = ResidentKiB();
    rss.emplace_back(Since(gStart), resident.allKiB);
    heap.emplace_back(rss.back().first, HeapInUseKiB());
    privateRss.emplace_back(rss.back().first, resident.privateKiB);
    Print("soak: RSS %zu KiB, heap in use %zu KiB, %zu threads, %zu file descriptors, %zu frames so far",
          rss.back().second, heap.back().second, Threads(), OpenFiles(), frames);
  }
  Print("soak: time is up; stopping streams and closing drivers");
  for (auto& slot : slots) slot->Finish();
  // The cameras still run, and no driver is open: the same state as at the start.
  for (auto& slot : slots)
    if (!slot->HasCamera()) slot->StartCamera();
  // A thread that ends on its own after its object was freed (a driver freed after a held callback, a
  // thread that let its handle go) may still be on its way out, slower under a sanitizer: up to 10 s.
  // The library is unloaded only after this, so a thread still inside it fails the run here.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  for (int i = 0; i < 95 && (Threads() != threadsBefore || OpenFiles() != fdsBefore); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const size_t fdsAfter = OpenFiles();
  const size_t threadsAfter = Threads();
  if (fdsAfter != fdsBefore || threadsAfter != threadsBefore) {
    // For the one reading the report: what is still open, and every thread's stack when gdb is at hand.
    Print("soak: threads or files are left; what is open, and the stacks:");
    const std::string pid = std::to_string(getpid());
    if (std::system(
            ("ls -l /proc/" + pid + "/fd; gdb -q -batch -p " + pid + " -ex 'thread apply all bt 30' 2>&1").c_str()) !=
        0)
      Print("soak: gdb could not show the stacks");
  }

  uint64_t sent = 0, got = 0;
  size_t kept = 0, outstanding = 0, badReleases = 0, unlisted = 0, nullFrames = 0, frames = 0, lost = 0, overruns = 0,
         errors = 0, warnings = 0;
  int windows = 0, unmeasured = 0, idle = 0, faults = 0, queries = 0, queryAnomalies = 0;
  std::vector<std::string> notable;
  size_t blocks = 0, reentries = 0, concurrent = 0, refused = 0;
  double longestMs = 0;
  std::string longest = "none";
  std::printf("\n==== soak report ====\n");
  for (auto& slot : slots) {
    sent += slot->CleanSent();
    got += slot->CleanGot();
    windows += slot->Windows();
    unmeasured += slot->Unmeasured();
    idle += slot->Idle();
    queries += slot->Queries();
    queryAnomalies += slot->QueryAnomalies();
    faults += slot->Faults();
    RudeSession& session = slot->Session();
    // Frames the host held while a delete of the driver returned are the host's to free.
    kept += session.Sink().ReclaimKept(slot->Allocator());
    outstanding += slot->Allocator().Outstanding();
    badReleases += slot->Allocator().BadReleases();
    unlisted += slot->Allocator().Unlisted();
    nullFrames += session.Sink().nullFrames;
    frames += session.Sink().frames;
    lost += session.Sink().signalLost;
    overruns += session.Log().Overruns();
    const size_t slotErrors = session.Log().AtLevel(1), slotWarnings = session.Log().AtLevel(2);
    for (const std::string& line : session.Log().Notable())
      if (notable.size() < 40) notable.push_back(line);
    blocks += slot->Rude().blocks;
    reentries += slot->Rude().reentries;
    concurrent += slot->Rude().concurrent;
    refused += session.refused;
    std::string what;
    const double ms = slot->Rude().LongestMs(&what);
    if (ms >= longestMs) {
      longestMs = ms;
      longest = slot->Address() + " " + what;
    }
    errors += slotErrors;
    warnings += slotWarnings;
    std::printf("camera %-14s faults %3d  clean windows %3d  delivered %7" PRIu64 " of %7" PRIu64
                " sent (%.1f %%)  frames %7zu  signal lost %3zu  log errors %4zu warnings %4zu\n",
                slot->Address().c_str(), slot->Faults(), slot->Windows(), slot->CleanGot(), slot->CleanSent(),
                slot->CleanSent()
                    ? 100.0 * static_cast<double>(slot->CleanGot()) / static_cast<double>(slot->CleanSent())
                    : 0.0,
                session.Sink().frames.load(), session.Sink().signalLost.load(), slotErrors, slotWarnings);
  }
  std::printf("faults injected:            %d\n", faults);
  std::printf("frames outside faults:      %" PRIu64 " delivered of %" PRIu64
              " sent (%.2f %%) in %d windows (%d not measurable)\n",
              got, sent, sent ? 100.0 * static_cast<double>(got) / static_cast<double>(sent) : 0.0, windows,
              unmeasured);
  std::printf("windows without any video:   %d (the camera sent nothing while no fault was active)\n", idle);
  std::printf("capability queries:         %d with a hostile brand, %d not telling exactly one outcome\n", queries,
              queryAnomalies);
  std::printf("frames delivered in all:    %zu (signal-lost calls %zu)\n", frames, lost);
  std::printf(
      "frame buffers outstanding:  %zu (bad releases %zu, null frames %zu; %zu kept by the host after a delete)\n",
      outstanding, badReleases, nullFrames, kept);
  std::printf("unlisted host slots called: %zu (allocator slots 1 and 3-5; others fail at once)\n",
              unlisted + zephrin::test::HostContract::Violations().size());
  std::printf(
      "rude host:                  %zu blocked callbacks, %zu calls from inside, %zu from another thread, "
      "%zu refused or not made\n",
      blocks, reentries, concurrent, refused);
  std::printf("file descriptors:           %zu at start, %zu at end\n", fdsBefore, fdsAfter);
  std::printf("threads:                    %zu at start, %zu at end\n", threadsBefore, threadsAfter);
  std::printf("RSS (KiB) every 30 s:      ");
  for (const auto& [t, kib] : rss) std::printf(" %zu", kib);
  std::printf("\n");
  const double warmup = options.warmup >= 0 ? options.warmup : std::min(10.0, options.minutes / 3);
  std::printf("RSS slope after %.1f min:    %s\n", warmup, Slope(rss, warmup * 60).c_str());
  std::printf("RSS slope in the last third: %s\n", Slope(rss, options.minutes * 40).c_str());
  std::printf("private RSS slope:          %s (not file-backed)\n", Slope(privateRss, warmup * 60).c_str());
  std::printf("heap in use slope:          %s\n", Slope(heap, warmup * 60).c_str());
  std::printf("longest host call:          %.0f ms (%s; limit %.0f ms)\n", longestMs, longest.c_str(),
              kHostCallLimitMs);
  std::printf("threads that overran stop:  %zu log lines\n", overruns);
  std::printf("log lines at level 1 / 2:   %zu / %zu\n", errors, warnings);
  std::printf("log lines at level 1 and 2 (first %zu):\n", notable.size());
  for (const std::string& line : notable) std::printf("  %.300s\n", line.c_str());
  std::fflush(stdout);

  for (auto& slot : slots) slot->StopCamera();
  const bool clean = outstanding == 0 && badReleases == 0 && unlisted == 0 && nullFrames == 0 &&
                     zephrin::test::HostContract::Violations().empty() && fdsBefore == fdsAfter &&
                     threadsBefore == threadsAfter && queryAnomalies == 0 && longestMs <= kHostCallLimitMs;
  std::printf("result: %s\n", clean ? "PASS" : "FAIL");
  return clean ? 0 : 1;
}
