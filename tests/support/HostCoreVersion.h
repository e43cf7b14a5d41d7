#pragma once
// The host core's product version as the driver reads it. On Linux it is the STAVRIK_VERSION
// variable, which a test sets; on Windows it is the version resource of the loaded Stavrik.dll, which
// no test program loads, so there a test can only have it unreadable.
#include <optional>
#include <string>

namespace zephrin::test {

// Makes the driver read this version from now on (nullptr: unreadable). False when the system cannot
// be made to: the test then skips what depends on a readable version.
bool SetHostCoreVersion(const char* version);
// The version the driver would read now, to put back after a test; nullopt when unreadable.
std::optional<std::string> CurrentHostCoreVersion();

}  // namespace zephrin::test
