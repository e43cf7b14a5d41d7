// zephrin-host io: opens the driver for one device as a host does, starts its digital I/O, prints
// every input change as it is reported and switches outputs on request.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "CommandLine.h"
#include "DeviceOptions.h"
#include "DriverSession.h"
#include "PasswordSource.h"
#include "host/HostInterfaces.h"
#include "platform/Platform.h"
#include "hostobjects/HostObjects.h"

namespace zephrin::host {

namespace {

using norvale::ipcapture::ICaptureIOApi;
using norvale::ipcapture::IIPCaptureDriverEx5;

struct IoOptions {
  DeviceOptions device{DeviceOptions::kHostParameters};
  int inputs = -1;  // -1: from the parameter file, else 0
  int outputs = -1;
  std::vector<std::pair<unsigned, unsigned>> sets;  // output (1-based), state
  uint32_t durationSeconds = 0;                     // 0: until "quit" or the end of input
};

constexpr uint32_t kMostIO = 256;

// "on"/"active"/"2" switch an output on, "off"/"inactive"/"1" off.
bool ParseState(const std::string& text, unsigned* state) {
  if (text == "on" || text == "active" || text == "2") {
    *state = 2;
  } else if (text == "off" || text == "inactive" || text == "1") {
    *state = 1;
  } else {
    return false;
  }
  return true;
}

// The camera's I/O counts that 'zephrin-host probe' notes in its host parameter file as
// "# inputs=N" and "# outputs=N".
bool LoadIOCounts(const std::string& path, IoOptions* options) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "zephrin-host io: cannot read '%s'\n", path.c_str());
    return false;
  }
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    uint32_t count = 0;
    if (line.rfind("# inputs=", 0) == 0 && CommandLine::ParseNumber(line.substr(9), 0, kMostIO, &count) &&
        options->inputs < 0)
      options->inputs = static_cast<int>(count);
    if (line.rfind("# outputs=", 0) == 0 && CommandLine::ParseNumber(line.substr(10), 0, kMostIO, &count) &&
        options->outputs < 0)
      options->outputs = static_cast<int>(count);
  }
  return true;
}

bool ParseOptions(const Arguments& args, IoOptions* options) {
  CommandLine line("io", args);
  while (line.Next()) {
    const DeviceOptions::Outcome device = options->device.Take(line);
    if (device == DeviceOptions::Outcome::kFailed) return false;
    if (device == DeviceOptions::Outcome::kTaken) continue;
    bool ok = true;
    uint32_t number = 0;
    if (line.Is("--inputs") || line.Is("--outputs")) {
      ok = line.Number(0, kMostIO, &number);
      (line.Is("--inputs") ? options->inputs : options->outputs) = static_cast<int>(number);
    } else if (line.Is("--set")) {
      std::string text;
      uint32_t state = 0;
      if (!line.Value(&text)) return false;
      const size_t equals = text.find('=');
      ok = equals != std::string::npos && CommandLine::ParseNumber(text.substr(0, equals), 1, kMostIO, &number) &&
           ParseState(text.substr(equals + 1), &state);
      if (!ok) return line.Invalid("OUTPUT=on|off with OUTPUT from 1");
      options->sets.emplace_back(number, state);
    } else if (line.Is("--duration")) {
      ok = line.Number(0, 86400, &options->durationSeconds);
    } else {
      ok = line.Unknown();
    }
    if (!ok) return false;
  }
  if (!options->device.Finish(line)) return false;
  const std::string& file = options->device.ParameterFile();
  if (!file.empty() && !LoadIOCounts(file, options)) return false;
  if (options->inputs < 0) options->inputs = 0;
  if (options->outputs < 0) options->outputs = 0;
  return true;
}

const char* StateName(uint32_t state) { return state == 2 ? "active" : state == 1 ? "inactive" : "undetermined"; }

// Prints what the driver reports, as it happens.
class PrintingIOSink : public norvale::ipcapture::IOSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(PrintingIOSink);
  void InputStateChanged(uint32_t input, uint32_t state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::printf("input %u: %s\n", input + 1, StateName(state));
    std::fflush(stdout);
  }
  void IOFailed() override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::printf("I/O failed\n");
    std::fflush(stdout);
  }

 private:
  std::mutex mutex_;
};

void SwitchOutput(ICaptureIOApi* io, unsigned output, unsigned state) {
  const bool queued = io->SetOutputState(output - 1, state);
  std::printf("output %u: %s%s\n", output, StateName(state), queued ? "" : " (refused)");
  std::fflush(stdout);
}

}  // namespace

void IoUsage() {
  std::fprintf(stderr,
               "usage: zephrin-host io --address A [--port N] [--user U] [--password-file F]\n"
               "                       [--params FILE] [--param N=TEXT] [--inputs N] [--outputs N]\n"
               "                       [--set OUTPUT=on|off ...] [--duration S] [--library PATH]\n"
               "Opens the driver for the device, starts its digital I/O and prints every input change\n"
               "(\"input 1: active\") and every failed poll or command (\"I/O failed\"). Outputs are\n"
               "numbered from 1. The input and output counts come from --inputs/--outputs or from the\n"
               "file 'zephrin-host probe --save' wrote. Without --duration, commands are read from\n"
               "standard input: \"OUTPUT on\", \"OUTPUT off\", \"quit\".\n"
               "%s",
               PasswordSource::kUsage);
}

int RunIo(const Arguments& args) {
  IoOptions options;
  if (!ParseOptions(args, &options)) {
    IoUsage();
    return 2;
  }
  DriverSession session(options.device.Library());
  if (session.ReportIfUnusable("io")) return 1;

  zephrin::hostobjects::RecordingLogSink log;
  log.SetEcho(true);
  zephrin::hostobjects::TestFrameAllocator allocator;
  zephrin::hostobjects::TestDeviceSource device;
  options.device.Fill(&device);
  device.camera.value1 = options.inputs;
  device.camera.value2 = options.outputs;

  IIPCaptureDriverEx5* driver = session.Create() ? session.Driver() : nullptr;
  if (!driver || !driver->Open(&log, &allocator, &device)) {
    std::fprintf(stderr, "zephrin-host io: the driver did not open\n");
    return 1;
  }
  int status = 0;
  ICaptureIOApi* io = driver->GetIOApi();
  PrintingIOSink sink;
  if (!io || !io->SetCallback(&sink) || !io->StartIO()) {
    std::fprintf(stderr, "zephrin-host io: digital I/O did not start\n");
    status = 1;
  } else {
    std::printf("digital I/O of %s:%u: %u input(s), %u output(s)\n", options.device.Address().c_str(),
                options.device.Port(), io->GetInputCount(), io->GetOutputCount());
    std::fflush(stdout);
    for (const auto& [output, state] : options.sets) SwitchOutput(io, output, state);
    if (options.durationSeconds > 0) {
      std::this_thread::sleep_for(std::chrono::seconds(options.durationSeconds));
    } else {
      std::string line;
      while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first.empty()) continue;
        if (first == "quit" || first == "exit") break;
        uint32_t output = 0, state = 0;
        if (CommandLine::ParseNumber(first, 1, kMostIO, &output) && ParseState(second, &state))
          SwitchOutput(io, output, state);
        else
          std::fprintf(stderr, "zephrin-host io: expected \"OUTPUT on\", \"OUTPUT off\" or \"quit\"\n");
      }
    }
    io->StopIO();
  }
  driver->Close();
  session.Destroy();
  return status;
}

}  // namespace zephrin::host
