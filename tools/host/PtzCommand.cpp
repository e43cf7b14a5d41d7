// zephrin-host ptz: opens the driver for one device and runs PTZ actions on one camera channel
// through the driver's PTZ interfaces, printing each status in words.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "CommandLine.h"
#include "DeviceOptions.h"
#include "DriverSession.h"
#include "PasswordSource.h"
#include "host/HostInterfaces.h"
#include "hostobjects/HostObjects.h"

namespace zephrin::host {

namespace {

using namespace norvale::ipcapture;

void PrintPtzUsage(FILE* out) {
  std::fprintf(out,
               "usage: zephrin-host ptz [options] ACTION [ACTION ...]\n"
               "\n"
               "Opens the driver for the device and runs the actions in order on one camera channel,\n"
               "printing every status. Commands are queued by the driver and sent to the camera by its\n"
               "worker thread; before closing, and before a preset action that follows commands, the tool\n"
               "waits --settle milliseconds for them, as a user would before storing a position.\n"
               "\n"
               "options:\n"
               "  --address A        camera address (required)\n"
               "  --port N           HTTP port (default 80)\n"
               "  --user U           user name (default admin)\n"
               "%s"
               "  --model M          device model text (default ELMO)\n"
               "  --cameras N        number of cameras of the device (default 1)\n"
               "  --channel N        camera channel, from 0 (default 0)\n"
               "  --params FILE      host parameters 1..9, one N=TEXT per line (as 'probe' writes them)\n"
               "  --param N=TEXT     one host parameter (repeatable; after --params it wins);\n"
               "                     5 = PTZ abilities (\"Pan=1; Tilt=1; Zoom=1; ...; Preset=16\"),\n"
               "                     6 = preset file name (bare: beside zephrin-host; or an absolute path)\n"
               "  --library PATH     the driver library (default: libZephrin.so beside zephrin-host, else the\n"
               "                     installed one)\n"
               "  --settle MS        wait after the last queued command (default 1000)\n"
               "  --quiet            do not echo the driver's log lines to stderr\n"
               "\n"
               "actions (speeds on the host scale 1..16):\n"
               "  move DIR SPEED     DIR: left right up down up-left up-right down-left down-right, or 0..10\n"
               "  zoom in|out SPEED\n"
               "  focus +|- SPEED    focus positive or negative\n"
               "  iris +|- SPEED     iris positive or negative\n"
               "  stop               stop every movement in progress\n"
               "  unzoom [VALUE]     zoom fully out\n"
               "  center A B C       centre on a point (passed on unchanged)\n"
               "  areazoom A B C D   zoom into an area (passed on unchanged)\n"
               "  wait MS            pause\n"
               "  presets            list the presets of the channel\n"
               "  add NAME           store the current position as a preset (at the current preset: rename it)\n"
               "  goto NAME          move to a preset\n"
               "  remove NAME        delete a preset\n"
               "  rename OLD NEW     go to OLD (nothing is sent when it is current), then name it NEW\n"
               "  current            the preset the camera was last sent to\n"
               "  caps               the capability record\n"
               "  hasptz             whether the camera has pan, tilt, zoom, focus or iris\n",
               PasswordSource::kUsage);
}

const char* StatusWords(int32_t status) {
  switch (status) {
    case PTZ_OK:
      return "success";
    case PTZ_BadArgument:
      return "bad argument";
    case PTZ_Failed:
      return "failed or not open";
    case PTZ_NotSupported:
      return "not supported by the camera";
    case PTZ_PresetNotFound:
      return "preset not found or not done";
    case PTZ_PresetLimit:
      return "preset limit reached";
    default:
      return "unknown status";
  }
}

constexpr uint32_t kMostChannels = 255;
constexpr uint32_t kLongestSettleMs = 3600000;

bool ParseInt(const std::string& text, int32_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || parsed < std::numeric_limits<int32_t>::min() || parsed > std::numeric_limits<int32_t>::max())
    return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseDirection(const std::string& text, int32_t* direction) {
  static const char* const kNames[] = {"left", "right", "up", "down", "up-left", "up-right", "down-left", "down-right"};
  for (int32_t i = 0; i < 8; ++i)
    if (text == kNames[i]) {
      *direction = i;
      return true;
    }
  return ParseInt(text, direction);
}

struct Options {
  DeviceOptions device{DeviceOptions::kHostParameters | DeviceOptions::kDeviceModel};
  hostobjects::TestDeviceSource source;
  uint32_t channel = 0;
  uint32_t settleMs = 1000;
  bool quiet = false;
  std::vector<std::string> actions;
};

// Parses the options; the words after them are the actions. False (after a message) on a usage error.
bool ParseOptions(const Arguments& args, Options* o) {
  CommandLine line("ptz", args);
  while (line.NextOption()) {
    const DeviceOptions::Outcome device = o->device.Take(line);
    if (device == DeviceOptions::Outcome::kFailed) return false;
    if (device == DeviceOptions::Outcome::kTaken) continue;
    bool ok = true;
    if (line.Is("--quiet")) {
      o->quiet = true;
    } else if (line.Is("--channel")) {
      ok = line.Number(0, kMostChannels, &o->channel);
    } else if (line.Is("--settle")) {
      ok = line.Number(0, kLongestSettleMs, &o->settleMs);
    } else {
      ok = line.Unknown();
    }
    if (!ok) return false;
  }
  o->actions = line.Rest();
  if (!o->device.Finish(line)) return false;
  if (o->actions.empty()) return line.Fail("no action given");
  o->device.Fill(&o->source);
  return true;
}

// Runs the actions; returns the exit status (0 all succeeded, 1 some failed, 2 usage error).
class ActionRunner {
 public:
  ActionRunner(IIPPTZApi* api, const std::vector<std::string>& actions, uint32_t settleMs)
      : api_(api), actions_(actions), settleMs_(settleMs) {}

  int Run() {
    while (next_ < actions_.size()) {
      const std::string action = actions_[next_++];
      if (!RunOne(action)) return 2;
    }
    Settle();
    return failed_ ? 1 : 0;
  }

 private:
  // Gives the worker thread time to send the commands queued since the last wait.
  void Settle() {
    if (!queued_ || settleMs_ == 0) return;
    std::printf("waiting %u ms for queued commands\n", settleMs_);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs_));
    queued_ = false;
  }

  bool Word(std::string* out) {
    if (next_ >= actions_.size()) return false;
    *out = actions_[next_++];
    return true;
  }
  bool Number(int32_t* out) {
    std::string text;
    return Word(&text) && ParseInt(text, out);
  }
  bool Missing(const std::string& action, const char* what) {
    std::fprintf(stderr, "zephrin-host ptz: %s needs %s\n", action.c_str(), what);
    return false;
  }
  void Report(const std::string& what, int32_t status, bool queues = false) {
    std::printf("%s: %d (%s)\n", what.c_str(), status, StatusWords(status));
    std::fflush(stdout);
    if (status != PTZ_OK) failed_ = true;
    if (queues && status == PTZ_OK) queued_ = true;
  }
  bool Sign(const std::string& text, bool* positive) {
    if (text == "+" || text == "positive" || text == "in" || text == "open") {
      *positive = true;
      return true;
    }
    if (text == "-" || text == "negative" || text == "out" || text == "close") {
      *positive = false;
      return true;
    }
    return false;
  }
  std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

  bool RunOne(const std::string& action) {
    if (action == "add" || action == "goto" || action == "remove" || action == "rename") Settle();
    std::string word, name;
    int32_t a = 0, b = 0, c = 0, d = 0;
    bool positive = true;
    if (action == "move") {
      if (!Word(&word) || !ParseDirection(word, &a) || !Number(&b)) return Missing(action, "DIR SPEED");
      Report("move " + word + " speed " + std::to_string(b), api_->StartMove(a, b), true);
    } else if (action == "zoom") {
      if (!Word(&word) || !Sign(word, &positive) || !Number(&a)) return Missing(action, "in|out SPEED");
      Report("zoom " + word + " speed " + std::to_string(a), positive ? api_->ZoomIn(a) : api_->ZoomOut(a), true);
    } else if (action == "focus" || action == "iris") {
      if (!Word(&word) || !Sign(word, &positive) || !Number(&a)) return Missing(action, "+|- SPEED");
      int32_t status;
      if (action == "focus")
        status = positive ? api_->StartFocusPositive(a) : api_->StartFocusNegative(a);
      else
        status = positive ? api_->StartIrisPositive(a) : api_->StartIrisNegative(a);
      Report(action + " " + word + " speed " + std::to_string(a), status, true);
    } else if (action == "stop") {
      Report("stop", api_->StopAll(), true);
    } else if (action == "unzoom") {
      if (next_ < actions_.size() && ParseInt(actions_[next_], &a)) ++next_;
      Report("unzoom", api_->Unzoom(a), true);
    } else if (action == "center") {
      if (!Number(&a) || !Number(&b) || !Number(&c)) return Missing(action, "A B C");
      Report("center", api_->Center(a, b, c), true);
    } else if (action == "areazoom") {
      if (!Number(&a) || !Number(&b) || !Number(&c) || !Number(&d)) return Missing(action, "A B C D");
      Report("areazoom", api_->AreaZoom(a, b, c, d), true);
    } else if (action == "wait") {
      if (!Number(&a) || a < 0) return Missing(action, "MS");
      std::this_thread::sleep_for(std::chrono::milliseconds(a));
    } else if (action == "presets") {
      const int32_t count = api_->GetPresetCount();
      std::printf("presets: %d\n", count);
      for (int32_t i = 0; i < count; ++i) {
        char buffer[1024];
        const int32_t status = api_->GetPresetName(static_cast<uint32_t>(i), buffer, sizeof buffer);
        if (status == PTZ_OK)
          std::printf("  %d: %s\n", i, buffer);
        else
          Report("  preset " + std::to_string(i), status);
      }
      std::fflush(stdout);
    } else if (action == "add" || action == "goto" || action == "remove") {
      if (!Word(&name)) return Missing(action, "NAME");
      const int32_t status = action == "add"    ? api_->AddPreset(name.c_str())
                             : action == "goto" ? api_->GotoPreset(0, name.c_str())
                                                : api_->RemovePreset(name.c_str());
      Report(action + " " + Quoted(name), status);
    } else if (action == "rename") {
      std::string newName;
      if (!Word(&name) || !Word(&newName)) return Missing(action, "OLD NEW");
      const int32_t status = api_->GotoPreset(0, name.c_str());
      Report("goto " + Quoted(name), status);
      if (status == PTZ_OK) Report("rename to " + Quoted(newName), api_->AddPreset(newName.c_str()));
    } else if (action == "current") {
      char buffer[1024];
      const int32_t status = api_->GetCurrentPresetName(buffer, sizeof buffer);
      if (status == PTZ_OK)
        std::printf("current: %s\n", buffer);
      else
        std::printf("current: none (%d, %s)\n", status, StatusWords(status));
      std::fflush(stdout);
    } else if (action == "caps") {
      PTZCapabilityRecord record{};
      const int32_t status = api_->GetCapabilities(&record);
      Report("caps", status);
      if (status == PTZ_OK)
        std::printf(
            "  pan=%d tilt=%d zoom=%d focus=%d iris=%d areazoom=%d center=%d unzoom=%d presetslots=%d "
            "presets=%d\n",
            record.pan, record.tilt, record.zoom, record.focus, record.iris, record.areaZoom, record.center,
            record.unzoom, record.presetSlots, record.presetCount);
      std::fflush(stdout);
    } else if (action == "hasptz") {
      const int32_t status = api_->HasPTZ();
      std::printf("hasptz: %d (%s)\n", status, status == 1 ? "yes" : status == 0 ? "no" : StatusWords(status));
      std::fflush(stdout);
    } else {
      std::fprintf(stderr, "zephrin-host ptz: unknown action '%s'\n", action.c_str());
      return false;
    }
    return true;
  }

  IIPPTZApi* api_;
  const std::vector<std::string>& actions_;
  const uint32_t settleMs_;
  size_t next_ = 0;
  bool failed_ = false;
  bool queued_ = false;
};

}  // namespace

void PtzUsage() { PrintPtzUsage(stdout); }

int RunPtz(const Arguments& args) {
  Options options;
  if (!ParseOptions(args, &options)) {
    PrintPtzUsage(stderr);
    return 2;
  }
  DriverSession session(options.device.Library());
  if (session.ReportIfUnusable("ptz")) return 3;
  hostobjects::RecordingLogSink log;
  log.SetEcho(!options.quiet);
  hostobjects::TestFrameAllocator allocator;
  IIPCaptureDriverEx5* driver = session.Create() ? session.Driver() : nullptr;
  if (!driver) {
    std::fprintf(stderr, "zephrin-host ptz: the driver could not be created\n");
    return 3;
  }
  int status = 3;
  if (!driver->Open(&log, &allocator, &options.source)) {
    std::fprintf(stderr, "zephrin-host ptz: the driver did not open the device\n");
  } else if (IIPPTZDriver* ptz = driver->GetPTZDriver(); !ptz) {
    std::fprintf(stderr, "zephrin-host ptz: the driver has no PTZ driver\n");
  } else if (IIPPTZApi* api = ptz->GetPTZApi(options.channel); !api) {
    std::fprintf(stderr,
                 "zephrin-host ptz: no PTZ control for channel %u (is the channel below the camera count, and are "
                 "host parameters 5 and 6 given?)\n",
                 options.channel);
  } else {
    status = ActionRunner(api, options.actions, options.settleMs).Run();
  }
  driver->Close();
  session.Destroy();
  return status;
}

}  // namespace zephrin::host
