#pragma once
// The socket library of the process. Windows needs it started before the first socket call of a
// user and released once per start; POSIX sockets need nothing, and both calls are no-ops there.

namespace norvale::platform {

// Starts the socket library (version 2.2 where versions exist); true when it can be used.
bool StartSocketLibrary();
// Releases one successful start.
void StopSocketLibrary();

}  // namespace norvale::platform
