#pragma once
#include <string>

namespace zephrin::host {

// The driver zephrin-host loads when --library is not given: libZephrin.so beside the program (the
// build tree), else the installed library in the library directory of the installation the program
// belongs to.
std::string DefaultDriverLibrary();

}  // namespace zephrin::host
