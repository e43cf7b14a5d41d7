#include "DriverLibrary.h"

#include <filesystem>
#include <system_error>

#include "platform/Platform.h"

namespace zephrin::host {

std::string DefaultDriverLibrary() {
  const std::string program = norvale::platform::ExecutablePath(4096);
  const size_t slash = program.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string(".") : program.substr(0, slash);
  const std::string beside = directory + "/libZephrin.so";
  std::error_code error;
  if (std::filesystem::exists(beside, error)) return beside;
#if defined(ZEPHRIN_HOST_TO_LIBRARY) && defined(ZEPHRIN_DRIVER_SONAME)
  return std::filesystem::path(directory + "/" ZEPHRIN_HOST_TO_LIBRARY "/" ZEPHRIN_DRIVER_SONAME).lexically_normal();
#else
  return beside;
#endif
}

}  // namespace zephrin::host
