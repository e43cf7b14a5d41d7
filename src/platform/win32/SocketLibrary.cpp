#include "platform/SocketLibrary.h"

#include "platform/win32/Cancellation.h"
#include "platform/win32/SocketStartup.h"

namespace norvale::platform {

namespace socket_startup {
bool EnsureStarted() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
}  // namespace socket_startup

bool StartSocketLibrary() {
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  return true;
}

void StopSocketLibrary() { WSACleanup(); }

}  // namespace norvale::platform
