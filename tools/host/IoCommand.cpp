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
#include "DriverLibrary.h"
#include "DriverSession.h"
#include "PasswordSource.h"
#include "HostParameters.h"
#include "host/HostInterfaces.h"
#include "platform/Platform.h"
#include "hostobjects/HostObjects.h"

namespace zephrin::host {

namespace {

using norvale::ipcapture::ICaptureIOApi;
using norvale::ipcapture::IIPCaptureDriverEx5;

struct IoOptions {
  std::string address;
  unsigned port = 80;
  std::string user = "admin";
  std::string password;
  PasswordSource passwordSource;
  HostParameters params;
  int inputs = -1;  // -1: from the parameter file, else 0
  int outputs = -1;
  std::vector<std::pair<unsigned, unsigned>> sets;  // output (1-based), state
  unsigned durationSeconds = 0;                     // 0: until "quit" or the end of input
  std::string library;
};

bool ParseUnsigned(const std::string& text, unsigned max, unsigned* value) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
  if (parsed > max) return false;
  *value = static_cast<unsigned>(parsed);
  return true;
}

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
    unsigned count = 0;
    if (line.rfind("# inputs=", 0) == 0 && ParseUnsigned(line.substr(9), 256, &count) && options->inputs < 0)
      options->inputs = static_cast<int>(count);
    if (line.rfind("# outputs=", 0) == 0 && ParseUnsigned(line.substr(10), 256, &count) && options->outputs < 0)
      options->outputs = static_cast<int>(count);
  }
  return true;
}

bool ParseOptions(const Arguments& args, IoOptions* options) {
  std::string file;
  std::vector<std::string> assignments;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string text;
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "zephrin-host io: %s needs a value\n", arg.c_str());
        return false;
      }
      *out = args[++i];
      return true;
    };
    unsigned number = 0;
    if (arg == "--address") {
      if (!value(&options->address)) return false;
    } else if (arg == "--port") {
      if (!value(&text) || !ParseUnsigned(text, 65535, &options->port)) {
        std::fprintf(stderr, "zephrin-host io: --port needs a number from 0 to 65535\n");
        return false;
      }
    } else if (arg == "--user") {
      if (!value(&options->user)) return false;
    } else if (arg == "--password" || arg == "--password-file") {
      if (!value(&text)) return false;
      options->passwordSource.Take(arg, text);
    } else if (arg == "--params") {
      if (!value(&file)) return false;
    } else if (arg == "--param") {
      if (!value(&text)) return false;
      assignments.push_back(text);
    } else if (arg == "--inputs" || arg == "--outputs") {
      if (!value(&text) || !ParseUnsigned(text, 256, &number)) {
        std::fprintf(stderr, "zephrin-host io: %s needs a count from 0 to 256\n", arg.c_str());
        return false;
      }
      (arg == "--inputs" ? options->inputs : options->outputs) = static_cast<int>(number);
    } else if (arg == "--set") {
      unsigned state = 0;
      const size_t equals = value(&text) ? text.find('=') : std::string::npos;
      if (equals == std::string::npos || !ParseUnsigned(text.substr(0, equals), 256, &number) || number == 0 ||
          !ParseState(text.substr(equals + 1), &state)) {
        std::fprintf(stderr, "zephrin-host io: --set needs OUTPUT=on|off with OUTPUT from 1\n");
        return false;
      }
      options->sets.emplace_back(number, state);
    } else if (arg == "--duration") {
      if (!value(&text) || !ParseUnsigned(text, 86400, &options->durationSeconds)) {
        std::fprintf(stderr, "zephrin-host io: --duration needs seconds\n");
        return false;
      }
    } else if (arg == "--library") {
      if (!value(&options->library)) return false;
    } else {
      std::fprintf(stderr, "zephrin-host io: unknown option '%s'\n", arg.c_str());
      return false;
    }
  }
  if (options->address.empty()) {
    std::fprintf(stderr, "zephrin-host io: --address is required\n");
    return false;
  }
  std::string error;
  if (!options->params.Load(file, assignments, &error) || (!file.empty() && !LoadIOCounts(file, options))) {
    if (!error.empty()) std::fprintf(stderr, "zephrin-host io: %s\n", error.c_str());
    return false;
  }
  if (!options->passwordSource.Resolve("admin", &options->password, &error)) {
    std::fprintf(stderr, "zephrin-host io: %s\n", error.c_str());
    return false;
  }
  if (!options->params.Has(1)) options->params.Put(1, "0");  // the driver needs a video standard
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
  DriverSession session(options.library.empty() ? DefaultDriverLibrary() : options.library);
  if (session.Status() != DriverSession::State::kLoaded) {
    std::fprintf(stderr, "zephrin-host io: cannot load %s: %s\n", session.Path().c_str(), session.Error().c_str());
    return 1;
  }

  zephrin::test::RecordingLogSink log;
  log.SetEcho(true);
  zephrin::test::TestFrameAllocator allocator;
  zephrin::test::TestDeviceSource device;
  device.connection.address = options.address;
  device.connection.port = static_cast<uint16_t>(options.port);
  device.connection.user = options.user;
  device.connection.password = options.password;
  device.camera.value1 = options.inputs;
  device.camera.value2 = options.outputs;
  for (unsigned number = 1; number <= HostParameters::kCount; ++number)
    device.SetParam(number, options.params.ForHost(number));

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
    std::printf("digital I/O of %s:%u: %u input(s), %u output(s)\n", options.address.c_str(), options.port,
                io->GetInputCount(), io->GetOutputCount());
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
        unsigned output = 0, state = 0;
        if (ParseUnsigned(first, 256, &output) && output > 0 && ParseState(second, &state))
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
