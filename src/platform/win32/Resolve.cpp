#include "platform/Platform.h"
#include "platform/win32/Cancellation.h"
#include "platform/win32/SocketStartup.h"

namespace norvale::platform {

uint32_t ResolveIPv4(const char* host) {
  if (!host || !*host || !socket_startup::EnsureStarted()) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result) return 0;
  uint32_t address = 0;
  for (addrinfo* ai = result; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr) {
      address = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(result);
  return address;
}

}  // namespace norvale::platform
