// zephrin-host probe: the capability query a host runs when a camera is added, shown as the host
// received it, and saved as the host parameters that 'record', 'ptz' and 'io' hand to the driver.
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "CapabilityQuery.h"
#include "Commands.h"
#include "CommandLine.h"
#include "DeviceOptions.h"
#include "PasswordSource.h"
#include "host/HostInterfaces.h"
#include "platform/Platform.h"
#include "hostobjects/CapabilityRecorder.h"

namespace zephrin::host {

namespace {

using zephrin::hostobjects::RecordingCapabilityCallback;
using zephrin::hostobjects::RecordingCapabilitySink;

struct ProbeOptions {
  DeviceOptions device{DeviceOptions::kConnection};
  bool ntsc = false;
  bool json = false;
  std::string save;
  uint32_t timeoutSeconds = 60;
};

const char* CapabilityName(uint32_t id) {
  switch (id) {
    case 0:
      return "video sources";
    case 1:
      return "PTZ";
    case 2:
      return "digital inputs";
    case 3:
      return "digital outputs";
    case 4:
      return "audio inputs";
    case 5:
      return "flag 5";
    case 6:
      return "MPEG-4";
    case 7:
      return "JPEG";
    case 8:
      return "H.264";
    case 11:
      return "flag 11";
    case 12:
      return "flag 12";
    case 27:
      return "additional streams";
    default:
      return "capability";
  }
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

bool ParseOptions(const Arguments& args, ProbeOptions* options) {
  CommandLine line("probe", args);
  while (line.Next()) {
    const DeviceOptions::Outcome device = options->device.Take(line);
    if (device == DeviceOptions::Outcome::kFailed) return false;
    if (device == DeviceOptions::Outcome::kTaken) continue;
    bool ok = true;
    if (line.Is("--ntsc")) {
      options->ntsc = true;
    } else if (line.Is("--json")) {
      options->json = true;
    } else if (line.Is("--save")) {
      ok = line.Value(&options->save);
    } else if (line.Is("--timeout")) {
      ok = line.Number(1, 3600, &options->timeoutSeconds);
    } else {
      ok = line.Unknown();
    }
    if (!ok) return false;
  }
  return options->device.Finish(line);
}

void PrintReadable(RecordingCapabilityCallback& callback, RecordingCapabilitySink& sink) {
  const auto failures = callback.Failures();
  if (callback.Succeeded()) {
    std::printf("query succeeded\n");
  } else if (!failures.empty()) {
    std::printf("query failed (reason %d): %s\n", failures.back().reason, failures.back().text.c_str());
  } else if (callback.Abandoned()) {
    std::printf("query abandoned\n");
  } else {
    std::printf("query did not finish\n");
  }
  if (auto model = sink.ModelName()) std::printf("model: %s\n", model->c_str());
  const auto connection = sink.ConnectionItems();
  if (!connection.empty()) {
    std::printf("connection:");
    for (const auto& [index, value] : connection) std::printf(" %u=%s", index, index == 4 ? "***" : value.c_str());
    std::printf("\n");
  }
  const auto capabilities = sink.Capabilities();
  if (!capabilities.empty()) {
    std::printf("capabilities:\n");
    for (const auto& [id, value] : capabilities) std::printf("  %2u %-20s %u\n", id, CapabilityName(id), value);
  }
  const auto resolutions = sink.Resolutions();
  if (!resolutions.empty()) {
    std::printf("resolutions (frame interval ms):\n");
    for (const auto& r : resolutions)
      std::printf("  %-10s %4u x %-4u %u\n", r.text.c_str(), r.width, r.height, r.frameInterval);
  }
  const auto rates = sink.FrameRates();
  if (!rates.empty()) {
    std::printf("frame intervals (ms):");
    for (uint32_t interval : rates) std::printf(" %u", interval);
    if (auto def = sink.DefaultFrameRate()) std::printf("  default %u", *def);
    std::printf("\n");
  }
  const auto properties = sink.Properties();
  if (!properties.empty()) {
    std::printf("properties:\n");
    for (int32_t id : sink.PropertyOrder()) {
      auto it = properties.find(id);
      if (it != properties.end())
        std::printf("  %3d %-38s %s\n", id, it->second.name.c_str(), it->second.value.c_str());
    }
  }
}

void PrintJson(RecordingCapabilityCallback& callback, RecordingCapabilitySink& sink) {
  const auto failures = callback.Failures();
  std::string out = "{";
  if (callback.Succeeded())
    out += "\"outcome\":\"succeeded\"";
  else if (!failures.empty())
    out += "\"outcome\":\"failed\",\"reason\":" + std::to_string(failures.back().reason) +
           ",\"text\":" + JsonString(failures.back().text);
  else
    out += callback.Abandoned() ? "\"outcome\":\"abandoned\"" : "\"outcome\":\"unfinished\"";
  if (auto model = sink.ModelName()) out += ",\"model\":" + JsonString(*model);
  out += ",\"connection\":{";
  bool first = true;
  for (const auto& [index, value] : sink.ConnectionItems()) {
    out += (first ? "\"" : ",\"") + std::to_string(index) + "\":" + JsonString(index == 4 ? "***" : value);
    first = false;
  }
  out += "},\"capabilities\":{";
  first = true;
  for (const auto& [id, value] : sink.Capabilities()) {
    out += (first ? "\"" : ",\"") + std::to_string(id) + "\":" + std::to_string(value);
    first = false;
  }
  out += "},\"resolutions\":[";
  first = true;
  for (const auto& r : sink.Resolutions()) {
    out += std::string(first ? "" : ",") + "{\"text\":" + JsonString(r.text) + ",\"width\":" + std::to_string(r.width) +
           ",\"height\":" + std::to_string(r.height) + ",\"frameInterval\":" + std::to_string(r.frameInterval) + "}";
    first = false;
  }
  out += "],\"frameIntervals\":[";
  first = true;
  for (uint32_t interval : sink.FrameRates()) {
    out += (first ? "" : ",") + std::to_string(interval);
    first = false;
  }
  out += "]";
  if (auto def = sink.DefaultFrameRate()) out += ",\"defaultFrameInterval\":" + std::to_string(*def);
  out += ",\"properties\":[";
  first = true;
  const auto properties = sink.Properties();
  for (int32_t id : sink.PropertyOrder()) {
    auto it = properties.find(id);
    if (it == properties.end()) continue;
    out += std::string(first ? "" : ",") + "{\"id\":" + std::to_string(id) +
           ",\"name\":" + JsonString(it->second.name) + ",\"value\":" + JsonString(it->second.value) +
           ",\"isText\":" + (it->second.isText == 1 ? "true" : "false") + "}";
    first = false;
  }
  out += "]}";
  std::printf("%s\n", out.c_str());
}

// The host keeps property entries 1 to 9 and hands them back at Open; an empty text is stored as
// "(none)". The I/O counts go along as comments for 'zephrin-host io'.
bool SaveHostParameters(const std::string& path, RecordingCapabilitySink& sink) {
  std::ofstream out(path, std::ios::trunc);
  if (!out) return false;
  const HostParameters parameters = ReportedHostParameters(sink);
  const auto capabilities = sink.Capabilities();
  out << "# host parameters of " << (sink.ModelName() ? *sink.ModelName() : std::string("the camera"))
      << ", written by zephrin-host probe\n";
  for (unsigned id = 1; id <= HostParameters::kCount; ++id) {
    std::string value = parameters.ForHost(id);
    for (char& c : value)
      if (c == '\r' || c == '\n') c = ' ';
    out << id << "=" << value << "\n";
  }
  auto count = [&](uint32_t id) {
    auto it = capabilities.find(id);
    return it == capabilities.end() ? 0u : it->second;
  };
  out << "# inputs=" << count(2) << "\n# outputs=" << count(3) << "\n";
  return static_cast<bool>(out.flush());
}

}  // namespace

void ProbeUsage() {
  std::fprintf(stderr,
               "usage: zephrin-host probe --address A [--port N] [--user U] [--password-file F] [--ntsc]\n"
               "                          [--json] [--save FILE] [--timeout S] [--library PATH]\n"
               "%s"
               "Runs the capability query on the camera as a recording host does and prints what the\n"
               "driver reported. --save writes the host parameters 1-9 (\"N=TEXT\" per line, \"(none)\"\n"
               "for an empty text) that 'zephrin-host record', 'ptz' and 'io' read with --params FILE.\n"
               "--ntsc starts the query with the NTSC flag (the camera's own standard wins).\n"
               "Exit status: 0 when the query succeeded, 1 when it failed, 2 for a usage error.\n",
               PasswordSource::kUsage);
}

int RunProbe(const Arguments& args) {
  ProbeOptions options;
  if (!ParseOptions(args, &options)) {
    ProbeUsage();
    return 2;
  }
  RecordingCapabilityCallback callback;
  RecordingCapabilitySink sink;
  if (!RunCapabilityQuery("probe", options.device, options.ntsc, options.timeoutSeconds, callback, sink)) return 1;

  if (options.json)
    PrintJson(callback, sink);
  else
    PrintReadable(callback, sink);

  const bool succeeded = callback.Succeeded() > 0;
  if (succeeded && !options.save.empty()) {
    if (!SaveHostParameters(options.save, sink)) {
      std::fprintf(stderr, "zephrin-host probe: cannot write '%s'\n", options.save.c_str());
      return 1;
    }
    if (!options.json) std::printf("host parameters saved to %s\n", options.save.c_str());
  }
  return succeeded ? 0 : 1;
}

}  // namespace zephrin::host
