// zephrin-host: a stand-in recording host on the command line. It loads libZephrin.so with dlopen and
// drives it only through its exported functions and interfaces, as the recording host does.
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

using zephrin::host::Command;

// Add a command here: its name, one line about it, its entry and its usage text.
const Command kCommands[] = {
    {"probe", "capability query of a camera; saves its host parameters", zephrin::host::RunProbe,
     zephrin::host::ProbeUsage},
    {"ptz", "pan, tilt, zoom, focus and presets of a camera", zephrin::host::RunPtz, zephrin::host::PtzUsage},
    {"record", "record one stream of a camera to a file", zephrin::host::RunRecord, zephrin::host::RecordUsage},
    {"io", "digital inputs and outputs of a camera", zephrin::host::RunIo, zephrin::host::IoUsage},
};

void Usage() {
  std::fprintf(stderr, "usage: zephrin-host COMMAND [options]\n\ncommands:\n");
  for (const Command& command : kCommands) std::fprintf(stderr, "  %-8s %s\n", command.name, command.summary);
  std::fprintf(stderr, "\n'zephrin-host COMMAND --help' describes a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage();
    return argc < 2 ? 2 : 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    zephrin::host::Arguments args(argv + 2, argv + argc);
    for (const std::string& arg : args) {
      if (arg == "--help" || arg == "-h") {
        command.usage();
        return 0;
      }
    }
    return command.run(args);
  }
  std::fprintf(stderr, "zephrin-host: unknown command '%s'\n", argv[1]);
  Usage();
  return 2;
}
