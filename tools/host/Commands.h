#pragma once
// The commands of zephrin-host. Each takes the arguments after its name and returns the process's
// exit status.
#include <string>
#include <vector>

namespace zephrin::host {

using Arguments = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const Arguments& args);
  void (*usage)();
};

int RunPtz(const Arguments& args);
void PtzUsage();

int RunRecord(const Arguments& args);
void RecordUsage();

int RunProbe(const Arguments& args);
void ProbeUsage();

int RunIo(const Arguments& args);
void IoUsage();

}  // namespace zephrin::host
