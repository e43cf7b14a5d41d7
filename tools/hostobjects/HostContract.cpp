#include "hostobjects/HostContract.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace zephrin::hostobjects {

namespace {

struct Registry {
  std::mutex mutex;
  std::vector<std::string> violations;
  std::atomic<HostContract::Reporter> reporter{nullptr};
};

Registry& TheRegistry() {
  // Never destroyed: driver threads may still call a host object while the process exits.
  static Registry* registry = new Registry;
  return *registry;
}

// A process that broke the contract does not end with success, whatever its own result was.
void CheckAtExit() {
  Registry& registry = TheRegistry();
  if (registry.reporter.load()) return;
  size_t count;
  {
    std::lock_guard<std::mutex> lock(registry.mutex);
    count = registry.violations.size();
  }
  if (count == 0) return;
  std::fprintf(stderr, "host contract: the driver called %zu slot(s) a recording host does not offer\n", count);
  std::fflush(nullptr);
  std::_Exit(70);
}

const bool kExitCheckInstalled = std::atexit(CheckAtExit) == 0;

}  // namespace

void HostContract::Violation(const char* interface, int slot) {
  const std::string message = std::string("host contract: the driver called ") + interface + " slot " +
                              std::to_string(slot) + ", which the host does not offer";
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.violations.push_back(message);
  }
  if (Reporter reporter = registry.reporter.load()) {
    reporter(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
  (void)kExitCheckInstalled;
}

std::vector<std::string> HostContract::Violations() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.violations;
}

void HostContract::Clear() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.violations.clear();
}

void HostContract::SetReporter(Reporter reporter) { TheRegistry().reporter.store(reporter); }

}  // namespace zephrin::hostobjects
