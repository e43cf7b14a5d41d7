#include "support/HostCoreVersion.h"

#include <cstdlib>

namespace zephrin::test {

bool SetHostCoreVersion(const char* version) {
  if (version) return setenv("STAVRIK_VERSION", version, 1) == 0;
  return unsetenv("STAVRIK_VERSION") == 0;
}

std::optional<std::string> CurrentHostCoreVersion() {
  const char* version = std::getenv("STAVRIK_VERSION");
  return version ? std::optional<std::string>(version) : std::nullopt;
}

}  // namespace zephrin::test
