#include <dlfcn.h>

#include "platform/Platform.h"

namespace norvale::platform {

std::string ModulePath() {
  Dl_info info{};
  // Any address inside this module names it; this function's own is at hand.
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

}  // namespace norvale::platform
