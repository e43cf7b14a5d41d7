#include "hostobjects/HostLibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>
#include <utility>

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

#ifdef _WIN32
void HostLibrary::Load() {
  handle_ = LoadLibraryA(path_.c_str());
  if (!handle_) error_ = "LoadLibrary " + path_ + " failed with error " + std::to_string(GetLastError());
}

HostLibrary::~HostLibrary() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* HostLibrary::Symbol(const char* name) {
  if (!handle_) return nullptr;
  void* symbol = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
  if (!symbol) error_ = std::string("no symbol ") + name;
  return symbol;
}
#else
void HostLibrary::Load() {
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* message = dlerror();
    error_ = message ? message : "dlopen failed";
  }
}

HostLibrary::~HostLibrary() {
  if (handle_) dlclose(handle_);
}

void* HostLibrary::Symbol(const char* name) {
  if (!handle_) return nullptr;
  dlerror();
  void* symbol = dlsym(handle_, name);
  if (!symbol) {
    const char* message = dlerror();
    error_ = message ? message : std::string("no symbol ") + name;
  }
  return symbol;
}
#endif

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
