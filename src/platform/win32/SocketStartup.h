#pragma once

namespace norvale::platform::socket_startup {

// Starts Winsock once for the whole process (never released before the process ends); true when
// it can be used.
bool EnsureStarted();

}  // namespace norvale::platform::socket_startup
