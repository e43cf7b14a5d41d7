#include "hostobjects/HostLibrary.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>
#include <utility>

#include "platform/Module.h"

namespace zephrin::test {

std::string HostLibrary::BinPath(const std::string& name) {
#ifdef _WIN32
  return std::string(ZEPHRIN_BIN_DIR) + "/" + name + ".dll";
#else
  return std::string(ZEPHRIN_BIN_DIR) + "/lib" + name + ".so";
#endif
}

HostLibrary::HostLibrary(const std::string& name) : path_(BinPath(name)) { Load(); }

HostLibrary::HostLibrary(FromPathTag, const std::string& path) : path_(path) { Load(); }

HostLibrary HostLibrary::FromPath(const std::string& path) { return HostLibrary(FromPathTag{}, path); }

HostLibrary::HostLibrary(HostLibrary&& other) noexcept
    : path_(std::move(other.path_)), error_(std::move(other.error_)), handle_(std::exchange(other.handle_, nullptr)) {}

void HostLibrary::Load() { handle_ = norvale::platform::LoadModule(path_, &error_); }

HostLibrary::~HostLibrary() { norvale::platform::UnloadModule(handle_); }

void* HostLibrary::Symbol(const char* name) {
  if (!handle_) return nullptr;
  return norvale::platform::ModuleSymbol(handle_, name, &error_);
}

bool HostLibrary::DefinedNames(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  const std::string command = "nm -D --defined-only '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  if (pclose(pipe) != 0) return false;

  static const std::set<std::string> kLinkerMarkers = {
      "_init", "_fini", "_edata", "_end", "__bss_start", "__bss_start__", "__bss_end__", "_bss_end__", "__end__"};
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    // "<address> <type> <name>"; the name is the last field (a version suffix such as @@V1 stays).
    const size_t space = line.find_last_of(' ');
    if (space == std::string::npos) continue;
    const std::string name = line.substr(space + 1);
    if (name.empty() || kLinkerMarkers.count(name)) continue;
    names->push_back(name);
  }
  std::sort(names->begin(), names->end());
  return true;
}

}  // namespace zephrin::test
