#include <dlfcn.h>

#include <cstring>

#include "platform/Platform.h"

namespace norvale::platform {

std::string ModulePath() {
  Dl_info info{};
  // Any address inside this module names it; this function's own is at hand.
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || !info.dli_fname) return {};
  // Linked into the program itself, the module is named as the program was started, which may be a
  // bare name found through PATH.
  if (!std::strchr(info.dli_fname, '/')) return ExecutablePath(4096);
  return info.dli_fname;
}

}  // namespace norvale::platform
