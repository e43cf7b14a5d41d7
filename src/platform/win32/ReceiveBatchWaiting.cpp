// The wait and the read of a receiving thread. Winsock has no read that sleeps until the first
// datagram and then takes those waiting behind it, so this is the socket seam's wait (which a waker
// ends) followed by its batch read, the wait bounded by the socket's receive time-out.
#include <winsock2.h>

#include "platform/Platform.h"
#include "platform/Socket.h"

namespace norvale::platform {

SocketWait ReceiveBatchWaiting(SocketHandle s, Waker* waker, Datagram* datagrams, int count, int* received,
                               bool* woken) {
  *received = 0;
  *woken = false;
  if (s == kInvalidSocket || !datagrams || count <= 0) return SocketWait::Invalid;
  DWORD ms = 0;
  int size = sizeof ms;
  if (getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&ms), &size) != 0 || ms == 0)
    ms = kInfinite;
  const SocketWait wait = WaitReadable(s, waker, ms, woken);
  if (wait != SocketWait::Ready || *woken) return wait;
  const int n = ReceiveBatch(s, datagrams, count);
  if (n < 0) return SocketWait::Retry;
  *received = n;
  return SocketWait::Ready;
}

}  // namespace norvale::platform
