#include "platform/Module.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"

namespace norvale::platform {

std::string ModulePath() {
  Dl_info info{};
  // Any address inside this module names it; this function's own is at hand.
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || !info.dli_fname) return {};
  // Linked into the program itself, the module is named as the program was started, which may be a
  // bare name found through PATH; a relative name (also one given to dlopen) is made full.
  if (!std::strchr(info.dli_fname, '/')) return ExecutablePath(4096);
  if (info.dli_fname[0] == '/') return info.dli_fname;
  char* full = realpath(info.dli_fname, nullptr);
  if (!full) return {};
  std::string path = full;
  std::free(full);
  return path;
}

Module* LoadModule(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle && error) {
    const char* message = dlerror();
    *error = message ? message : "dlopen failed";
  }
  return static_cast<Module*>(handle);
}

void* ModuleSymbol(Module* module, const char* name, std::string* error) {
  if (!module || !name) return nullptr;
  dlerror();
  void* symbol = dlsym(module, name);
  if (!symbol && error) {
    const char* message = dlerror();
    *error = message ? message : std::string("no symbol ") + name;
  }
  return symbol;
}

void UnloadModule(Module* module) {
  if (module) dlclose(module);
}

}  // namespace norvale::platform
