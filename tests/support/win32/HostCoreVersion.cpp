#include "support/HostCoreVersion.h"

#include <windows.h>

namespace zephrin::test {

bool SetHostCoreVersion(const char* version) { return !version && !GetModuleHandleA("Stavrik.dll"); }

std::optional<std::string> CurrentHostCoreVersion() { return std::nullopt; }

}  // namespace zephrin::test
