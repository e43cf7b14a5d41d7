// zephrin-host record: opens the driver for one device, starts one stream of one camera and writes
// the frames the driver hands over to a file, with a live progress line and a summary at the end.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CapabilityQuery.h"
#include "Commands.h"
#include "CommandLine.h"
#include "DeviceOptions.h"
#include "DriverSession.h"
#include "MediaFileWriter.h"
#include "PasswordSource.h"
#include "host/HostInterfaces.h"
#include "hostobjects/HostObjects.h"
#include "hostobjects/StreamSettings.h"

namespace zephrin::host {

namespace {

using namespace norvale::ipcapture;

void PrintRecordUsage(FILE* out) {
  std::fprintf(out,
               "usage: zephrin-host record [options]\n"
               "\n"
               "Opens the driver for the device, starts one stream of one camera and writes every frame\n"
               "it delivers to a file. A name ending in .mp4, .mkv, .avi or .mov gets that container, with\n"
               "the driver's frame times as time stamps (JPEG goes into .mkv or .avi); any other name gets\n"
               "the raw stream: H.264 as Annex B, JPEG as concatenated pictures, MPEG-4 as an elementary\n"
               "stream. The file starts at the first key frame. Runs until Ctrl-C or for --duration\n"
               "seconds. The driver's log lines go to stderr with their levels; progress and the summary\n"
               "go to stdout. How RTP is carried (UDP, TCP, interleaved) is chosen by Zephrin.xml beside\n"
               "zephrin-host.\n"
               "\n"
               "device:\n"
               "  --address A        camera address (required)\n"
               "  --port N           HTTP port (default 80)\n"
               "  --user U           user name (default admin)\n"
               "%s"
               "  --model M          device model text (default ELMO)\n"
               "  --cameras N        number of cameras of the device (default 1)\n"
               "  --params FILE      host parameters 1..9, one N=TEXT per line (as 'probe' writes them);\n"
               "                     without --params and --param, the camera is asked first as 'probe'\n"
               "                     does, and its answer gives the parameters, the model and the default\n"
               "                     frame interval\n"
               "  --param N=TEXT     one host parameter (repeatable; after --params it wins)\n"
               "  --library PATH     the driver library (default: libZephrin.so beside zephrin-host, else the\n"
               "                     installed one)\n"
               "\n"
               "stream:\n"
               "  --camera N         camera index, from 0 (default 0)\n"
               "  --stream KIND      recording, live, remote or a stream index 0..3 (default recording)\n"
               "  --codec C          h264, jpeg, mpeg4 or default (default h264)\n"
               "  --size WxH         requested picture size (default 640x480)\n"
               "  --interval MS      frame interval in milliseconds (default 40, 25 frames per second)\n"
               "  --fps N            frame rate instead of --interval\n"
               "  --quality Q        picture quality 1..100 (default 70)\n"
               "\n"
               "output:\n"
               "  --out FILE         where the frames go (default: nowhere, only counted)\n"
               "  --duration S       stop after S seconds (default: until Ctrl-C)\n"
               "  --progress MS      progress line period (default 1000; 0: none)\n"
               "  --quiet            do not echo the driver's log lines\n"
               "\n"
               "Exit status: 0 when frames were recorded, 1 when none were or writing failed, 2 for a usage\n"
               "error, 3 when the driver could not be used or cannot work out the camera's settings for\n"
               "the request.\n",
               PasswordSource::kUsage);
}

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

std::string CodeText(uint32_t code) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
    text += (c >= 32 && c < 127) ? c : '?';
  }
  return text;
}

const char* StateText(int32_t state) {
  switch (state) {
    case 0:
      return "streaming";
    case 2:
      return "no signal";
    default:
      return "stopped";
  }
}

// Error lines after which the driver keeps trying a stream request that cannot succeed: the camera's
// settings cannot be worked out from the host parameters and the request. With each, what to change.
struct UnworkableRequest {
  const char* mark;
  const char* advice;
};
constexpr UnworkableRequest kUnworkable[] = {
    {"Unable to calculate frame-skip value",
     "no frame rate of the camera gives the requested frame interval; take --interval or --fps from "
     "the frame intervals 'zephrin-host probe' lists"},
    {"Unable to generate resolution set",
     "the camera has no resolution set with the requested size; take --size from the resolutions "
     "'zephrin-host probe' lists"},
    {"Unable to open database file", "the driver's resolution database is missing beside the driver library"},
};

// The driver's log lines, on stderr with their levels; the depacketizer's drop counts, which the
// channel logs when it stops, are kept for the summary, and the first line saying that the request
// cannot be served.
class StderrLogSink : public LogSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(StderrLogSink);
  static constexpr const char* kDropsMark = "dropped by the depacketizer: ";

  explicit StderrLogSink(bool echo) : echo_(echo) {}
  void Write(const CDebugInfoIf* record) override {
    if (!record) return;
    const char* text = record->GetText();
    std::lock_guard<std::mutex> lock(mutex_);
    ++lines_;
    if (echo_) std::fprintf(stderr, "[%u] %s\n", record->GetLevel(), text ? text : "");
    if (!text) return;
    if (const char* drops = std::strstr(text, kDropsMark)) drops_ = drops + std::strlen(kDropsMark);
    for (const UnworkableRequest& unworkable : kUnworkable)
      if (!unworkable_ && std::strstr(text, unworkable.mark)) unworkable_ = &unworkable;
  }
  // The first unworkable-request line seen; null while there was none.
  const UnworkableRequest* Unworkable() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unworkable_;
  }
  // "loss 0, malformed 0, ..." of the last stopped stream; empty when none was logged.
  std::string Drops() {
    std::lock_guard<std::mutex> lock(mutex_);
    return drops_;
  }
  size_t Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  bool echo_;
  size_t lines_ = 0;
  std::string drops_;
  const UnworkableRequest* unworkable_ = nullptr;
};

// Milliseconds since 1970 of a frame time (days from the civil calendar, as in Howard Hinnant's
// date algorithms).
int64_t TimeMs(const SystemTimeRecord& t) {
  const int64_t year = static_cast<int64_t>(t.year) - (t.month <= 2 ? 1 : 0);
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t month = t.month;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t days = era * 146097 + dayOfEra - 719468;
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000 + t.milliseconds;
}

// The host's frame sink of the recording: writes each frame (raw, or through a container writer) and
// counts what arrives.
class FileFrameSink : public FrameSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FileFrameSink);
  FileFrameSink(FILE* file, MediaFileWriter* media) : file_(file), media_(media) {}

  bool OnFrame(FrameBuffer* frame) override {
    // The buffers are our allocator's; they are read as the host reads its own.
    auto* buffer = dynamic_cast<hostobjects::TestFrameBuffer*>(frame);
    if (!buffer) return false;
    const uint32_t length = std::min(buffer->Length(), buffer->Capacity());
    const uint8_t* data = buffer->Data();
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ && data && length > 0 && std::fwrite(data, 1, length, file_) != length) {
      writeFailed_ = true;
      return false;
    }
    if (media_) {
      if (!media_->Write(buffer->Code(), buffer->Width(), buffer->Height(), TimeMs(buffer->Time()), data, length)) {
        writeFailed_ = true;
        return false;
      }
    }
    static const uint8_t kDelimiter[5] = {0, 0, 1, 0x09, 0x30};
    endsWithDelimiter_ = data && length >= 5 && std::memcmp(data + length - 5, kDelimiter, 5) == 0;
    ++frames_;
    bytes_ += length;
    ++codes_[buffer->Code()];
    sizes_[{buffer->Width(), buffer->Height()}]++;
    return true;
  }
  void Reserved2() override { hostobjects::HostContract::Violation("FrameSink", 2); }
  void OnSignalLost() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++signalLost_;
  }

  // H.264 frames end with an access unit delimiter; the one after the last frame announces a
  // picture that never comes, so it is cut from the file.
  bool TrimTrailingDelimiter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_ || !endsWithDelimiter_ || std::fflush(file_) != 0) return true;
    const long size = std::ftell(file_);
    return size >= 5 && ::ftruncate(::fileno(file_), size - 5) == 0;
  }

  struct Counts {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t signalLost = 0;
    bool writeFailed = false;
    std::map<uint32_t, uint64_t> codes;
    std::map<std::pair<uint16_t, uint16_t>, uint64_t> sizes;
  };
  Counts Snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return Counts{frames_, bytes_, signalLost_, writeFailed_, codes_, sizes_};
  }

 private:
  std::mutex mutex_;
  FILE* file_;
  MediaFileWriter* media_;
  uint64_t frames_ = 0;
  uint64_t bytes_ = 0;
  uint64_t signalLost_ = 0;
  bool writeFailed_ = false;
  bool endsWithDelimiter_ = false;
  std::map<uint32_t, uint64_t> codes_;
  std::map<std::pair<uint16_t, uint16_t>, uint64_t> sizes_;
};

struct Options {
  DeviceOptions device{DeviceOptions::kHostParameters | DeviceOptions::kDeviceModel | DeviceOptions::kAskCamera};
  hostobjects::TestDeviceSource source;
  uint32_t camera = 0;
  uint32_t stream = 0;
  hostobjects::TestStreamSettings settings;
  std::string out;
  double duration = 0;  // seconds; 0 = until interrupted
  uint32_t progressMs = 1000;
  bool quiet = false;
  bool intervalGiven = false;
};

bool ParseStream(const std::string& text, uint32_t* stream) {
  if (text == "recording" || text == "rec") {
    *stream = 0;
  } else if (text == "live") {
    *stream = 1;
  } else if (text == "remote") {
    *stream = 2;
  } else {
    if (!CommandLine::ParseNumber(text, 0, 3, stream)) return false;
  }
  return true;
}

bool ParseCodec(const std::string& text, int32_t* codec) {
  if (text == "h264" || text == "H264")
    *codec = CodecH264;
  else if (text == "jpeg" || text == "mjpeg" || text == "JPEG")
    *codec = CodecJPEG;
  else if (text == "mpeg4" || text == "MPEG4")
    *codec = CodecMPEG4;
  else if (text == "default")
    *codec = CodecDefault;
  else
    return false;
  return true;
}

bool ParseSize(const std::string& text, uint16_t* width, uint16_t* height) {
  const size_t x = text.find('x');
  uint32_t w = 0, h = 0;
  if (x == std::string::npos || !CommandLine::ParseNumber(text.substr(0, x), 1, 65535, &w) ||
      !CommandLine::ParseNumber(text.substr(x + 1), 1, 65535, &h))
    return false;
  *width = static_cast<uint16_t>(w);
  *height = static_cast<uint16_t>(h);
  return true;
}

bool ParseOptions(const Arguments& args, Options* o) {
  o->settings.format.resolution = {640, 480};
  o->settings.format.codec = CodecH264;
  o->settings.rate.frameInterval = 40;
  o->settings.rate.quality = 70;
  CommandLine line("record", args);
  while (line.Next()) {
    const DeviceOptions::Outcome device = o->device.Take(line);
    if (device == DeviceOptions::Outcome::kFailed) return false;
    if (device == DeviceOptions::Outcome::kTaken) continue;
    std::string text;
    uint32_t n = 0;
    bool ok = true;
    if (line.Is("--quiet")) {
      o->quiet = true;
    } else if (line.Is("--camera")) {
      ok = line.Number(0, 255, &o->camera);
    } else if (line.Is("--stream")) {
      ok = line.Value(&text) && (ParseStream(text, &o->stream) || line.Invalid("recording, live, remote or 0 to 3"));
    } else if (line.Is("--codec")) {
      ok = line.Value(&text) &&
           (ParseCodec(text, &o->settings.format.codec) || line.Invalid("h264, jpeg, mpeg4 or default"));
    } else if (line.Is("--size")) {
      ok = line.Value(&text) &&
           (ParseSize(text, &o->settings.format.resolution.width, &o->settings.format.resolution.height) ||
            line.Invalid("WIDTHxHEIGHT"));
    } else if (line.Is("--interval")) {
      ok = line.Number(0, 65535, &n);
      o->settings.rate.frameInterval = static_cast<uint16_t>(n);
      o->intervalGiven = true;
    } else if (line.Is("--fps")) {
      ok = line.Number(1, 1000, &n);
      if (ok) o->settings.rate.frameInterval = static_cast<uint16_t>((1000 + n / 2) / n);
      o->intervalGiven = true;
    } else if (line.Is("--quality")) {
      ok = line.Number(1, 100, &n);
      o->settings.rate.quality = static_cast<uint16_t>(n);
    } else if (line.Is("--out")) {
      ok = line.Value(&o->out);
    } else if (line.Is("--duration")) {
      if (!line.Value(&text)) return false;
      char* end = nullptr;
      o->duration = std::strtod(text.c_str(), &end);
      ok = (*end == '\0' && o->duration > 0) || line.Invalid("seconds above 0");
    } else if (line.Is("--progress")) {
      ok = line.Number(0, 3600000, &o->progressMs);
    } else {
      ok = line.Unknown();
    }
    if (!ok) return false;
  }
  if (!o->device.Finish(line)) return false;
  if (o->camera >= static_cast<uint32_t>(o->device.Cameras()))
    return line.Fail("--camera %u is not below --cameras %d", o->camera, o->device.Cameras());
  return true;
}

// Without host parameters, the camera's own answer to the capability query: its parameters, its model
// and, unless one was asked for, its default frame interval. False after a message when it gave none.
bool AskCamera(Options* o) {
  hostobjects::RecordingCapabilityCallback callback;
  hostobjects::RecordingCapabilitySink sink;
  constexpr uint32_t kQuerySeconds = 30;
  if (!RunCapabilityQuery("record", o->device, false, kQuerySeconds, callback, sink)) return false;
  if (callback.Succeeded() == 0) {
    const auto failures = callback.Failures();
    std::fprintf(
        stderr,
        "zephrin-host record: no host parameters were given and the camera's capability query %s%s; "
        "give them with --params FILE (see 'zephrin-host probe --save')\n",
        failures.empty() ? "did not succeed" : "failed: ", failures.empty() ? "" : failures.back().text.c_str());
    return false;
  }
  const auto model = sink.ModelName();
  o->device.TakeCameraAnswer(ReportedHostParameters(sink), model ? *model : std::string());
  const auto interval = sink.DefaultFrameRate();
  if (!o->intervalGiven && interval && *interval > 0 && *interval <= 65535)
    o->settings.rate.frameInterval = static_cast<uint16_t>(*interval);
  std::fprintf(stderr, "zephrin-host record: note: host parameters from the camera (%s), frame interval %u ms\n",
               model ? model->c_str() : "no model name", o->settings.rate.frameInterval);
  return true;
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs the recording until interrupted or the duration has passed; returns the exit status.
int Record(IIPCaptureDriverEx5* driver, Options& options, FileFrameSink& sink, StderrLogSink& log) {
  IIPVideoCaptureEx2* capture = driver->GetVideoCaptureEx2();
  if (!capture) {
    std::fprintf(stderr, "zephrin-host record: the driver has no video capture object\n");
    return 3;
  }
  const bool started = options.stream == 0
                           ? capture->StartCapture(options.camera, &sink, &options.settings)
                           : capture->StartStream(options.camera, options.stream, &sink, &options.settings);
  if (!started) {
    std::fprintf(stderr, "zephrin-host record: the driver did not start the stream\n");
    if (options.stream == 0)
      capture->StopCapture(options.camera);
    else
      capture->StopStream(options.camera, options.stream);
    return 3;
  }
  const bool tty = ::isatty(STDOUT_FILENO) != 0;
  const auto begin = Clock::now();
  auto nextProgress = begin + std::chrono::milliseconds(options.progressMs);
  FileFrameSink::Counts last{};
  auto lastTime = begin;
  int32_t previousState = 3;
  uint64_t interruptions = 0;
  bool printed = false;
  const UnworkableRequest* unworkable = nullptr;
  while (!gInterrupted) {
    const auto now = Clock::now();
    if (options.duration > 0 && Seconds(now - begin) >= options.duration) break;
    if ((unworkable = log.Unworkable()) != nullptr) break;
    int32_t state = 3;
    int32_t value = 0;
    uint8_t flag = 0;
    if (!capture->GetCaptureStatus(options.camera, &state, &value, &flag, true)) state = 3;
    if (options.stream != 0) state = 0;  // the status covers stream 0 only
    if (previousState == 0 && state != 0) ++interruptions;
    previousState = state;
    if (options.progressMs > 0 && now >= nextProgress) {
      const FileFrameSink::Counts counts = sink.Snapshot();
      const double span = Seconds(now - lastTime);
      const double fps = span > 0 ? static_cast<double>(counts.frames - last.frames) / span : 0;
      const double kbits = span > 0 ? static_cast<double>(counts.bytes - last.bytes) * 8 / 1000 / span : 0;
      std::printf("%s%7.1f s  frames %8llu  %6.1f fps  %9.1f kbit/s  %s%s", tty ? "\r" : "", Seconds(now - begin),
                  static_cast<unsigned long long>(counts.frames), fps, kbits,
                  options.stream == 0 ? StateText(state) : "", tty ? "   " : "\n");
      std::fflush(stdout);
      printed = true;
      last = counts;
      lastTime = now;
      nextProgress = now + std::chrono::milliseconds(options.progressMs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (printed && tty) std::printf("\n");
  if (unworkable) {
    // Without the camera series the driver knows none of the camera's rates and resolution sets.
    const bool noSeries = !options.device.Parameters().Has(2);
    std::fprintf(
        stderr, "zephrin-host record: the driver cannot set up the camera for this stream: %s%s%s\n",
        noSeries ? "host parameter 2 (camera series) is missing, so " : "", unworkable->advice,
        options.device.AsksCamera() ? "" : " (or leave out --params and --param to start from the camera's answer)");
  }
  const auto stopBegin = Clock::now();
  if (options.stream == 0)
    capture->StopCapture(options.camera);
  else
    capture->StopStream(options.camera, options.stream);
  const double stopSeconds = Seconds(Clock::now() - stopBegin);
  const double total = Seconds(stopBegin - begin);

  const FileFrameSink::Counts counts = sink.Snapshot();
  std::printf("recorded %.1f s: %llu frames, %llu bytes (%.1f fps, %.1f kbit/s)%s%s\n", total,
              static_cast<unsigned long long>(counts.frames), static_cast<unsigned long long>(counts.bytes),
              total > 0 ? static_cast<double>(counts.frames) / total : 0.0,
              total > 0 ? static_cast<double>(counts.bytes) * 8 / 1000 / total : 0.0, options.out.empty() ? "" : " to ",
              options.out.c_str());
  for (const auto& [code, count] : counts.codes)
    std::printf("  %s: %llu frames\n", CodeText(code).c_str(), static_cast<unsigned long long>(count));
  for (const auto& [size, count] : counts.sizes)
    std::printf("  %ux%u: %llu frames\n", size.first, size.second, static_cast<unsigned long long>(count));
  std::printf("  interruptions (reconnects): %llu, signal losses: %llu, stop took %.2f s\n",
              static_cast<unsigned long long>(interruptions), static_cast<unsigned long long>(counts.signalLost),
              stopSeconds);
  if (counts.writeFailed) {
    std::fprintf(stderr, "zephrin-host record: writing %s failed\n", options.out.c_str());
    return 1;
  }
  if (unworkable) return 3;
  return counts.frames > 0 ? 0 : 1;
}

}  // namespace

void RecordUsage() { PrintRecordUsage(stdout); }

int RunRecord(const Arguments& args) {
  Options options;
  if (!ParseOptions(args, &options)) {
    PrintRecordUsage(stderr);
    return 2;
  }
  if (options.device.AsksCamera() && !AskCamera(&options)) return 3;
  options.device.Fill(&options.source);
  if (options.settings.format.codec != CodecDefault)
    options.source.connection.defaultCodec = options.settings.format.codec;
  FILE* file = nullptr;
  std::unique_ptr<MediaFileWriter> media;
  if (MediaFileWriter::Serves(options.out)) {
    media = std::make_unique<MediaFileWriter>(options.out);
    if (!media->Open()) {
      std::fprintf(stderr, "zephrin-host record: %s\n", media->Error().c_str());
      return 2;
    }
  } else if (!options.out.empty()) {
    file = std::fopen(options.out.c_str(), "wb");
    if (!file) {
      std::fprintf(stderr, "zephrin-host record: cannot write %s: %s\n", options.out.c_str(), std::strerror(errno));
      return 2;
    }
  }
  DriverSession session(options.device.Library());
  if (session.ReportIfUnusable("record")) {
    if (file) std::fclose(file);
    return 3;
  }
  gInterrupted = false;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  StderrLogSink log(!options.quiet);
  hostobjects::TestFrameAllocator allocator;
  FileFrameSink sink(file, media.get());
  int status = 3;
  IIPCaptureDriverEx5* driver = session.Create() ? session.Driver() : nullptr;
  if (!driver) {
    std::fprintf(stderr, "zephrin-host record: the driver could not be created\n");
  } else {
    if (!driver->Open(&log, &allocator, &options.source))
      std::fprintf(stderr, "zephrin-host record: the driver did not open the device\n");
    else
      status = Record(driver, options, sink, log);
    // The last summary line: what the driver threw away before the frames reached the host.
    const std::string drops = log.Drops();
    if (!drops.empty()) std::printf("  dropped by the driver: %s\n", drops.c_str());
    driver->Close();
    session.Destroy();
  }
  if (media) {
    if (media->Finish()) {
      std::printf(
          "  %llu frames in %s lasting %.3f s by the driver's frame times (%llu before the first key frame "
          "left out)\n",
          static_cast<unsigned long long>(media->FramesWritten()), options.out.c_str(),
          static_cast<double>(media->DurationMs()) / 1000.0, static_cast<unsigned long long>(media->FramesSkipped()));
    } else {
      std::fprintf(stderr, "zephrin-host record: %s\n", media->Error().c_str());
      if (status == 0) status = 1;
    }
  }
  if (file) {
    const bool trimmed = sink.TrimTrailingDelimiter();
    if (std::fclose(file) != 0 || !trimmed) status = status == 0 ? 1 : status;
  }
  if (allocator.Outstanding() != 0 || allocator.BadReleases() != 0) {
    std::fprintf(stderr, "zephrin-host record: frame buffers: %zu not released, %zu bad releases\n",
                 allocator.Outstanding(), allocator.BadReleases());
    if (status == 0) status = 1;
  }
  return status;
}

}  // namespace zephrin::host
