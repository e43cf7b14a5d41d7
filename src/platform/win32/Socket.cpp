// Winsock 2. Waits use select in slices when the calling thread is one of the seam's, so a thread
// told to end leaves a socket wait (and a blocking read, which waits first) by unwinding. The
// library is started once for the process by the first socket the seam creates, so the seam's
// calls never depend on who started it first; StartSocketLibrary counts the driver's own starts.
#include "platform/Socket.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/Platform.h"
#include "platform/win32/Cancellation.h"
#include "platform/win32/SocketStartup.h"

namespace norvale::platform {

namespace {

// How often a wait of a thread that can be told to end looks at its cancel event.
constexpr uint32_t kCancelSliceMs = 50;

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

// The system cannot tell whether a socket blocks; the seam remembers the ones it made non-blocking,
// so a blocking read knows whether it may wait first.
class NonBlockingSockets {
 public:
  void Set(SOCKET s, bool nonBlocking) {
    std::lock_guard<std::mutex> lock(m_);
    if (nonBlocking)
      sockets_.insert(s);
    else
      sockets_.erase(s);
  }
  bool Has(SOCKET s) {
    std::lock_guard<std::mutex> lock(m_);
    return sockets_.count(s) != 0;
  }

 private:
  std::mutex m_;
  std::unordered_set<SOCKET> sockets_;
};

NonBlockingSockets& NonBlocking() {
  static NonBlockingSockets* sockets = new NonBlockingSockets;  // used until the process ends
  return *sockets;
}

SocketWait ErrorClass(int error) {
  switch (error) {
    case WSAEINTR:
    case WSAEINPROGRESS:
    case WSAENOBUFS:
      return SocketWait::Retry;
    case WSAEFAULT:
    case WSAENETDOWN:
    case WSANOTINITIALISED:
      return SocketWait::Fatal;
    default:
      return SocketWait::Invalid;
  }
}

// Waits until one of the sockets is readable (or, with forWrite, writable or failed); ready[i]
// tells which. The first socket is the one whose state the result tells.
SocketWait Select(const SOCKET* sockets, int count, bool forWrite, uint32_t ms, bool* ready) {
  for (int i = 0; i < count; ++i) ready[i] = false;
  cancellation::ThrowIfRequested();
  const bool cancellable = cancellation::WatchedEvent() != nullptr;
  const uint32_t start = TickCount();
  for (;;) {
    uint32_t slice = ms;
    if (ms != kInfinite) {
      const uint32_t elapsed = TickCount() - start;
      slice = elapsed >= ms ? 0 : ms - elapsed;
    }
    if (cancellable) slice = std::min(slice, kCancelSliceMs);
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (int i = 0; i < count; ++i) {
      if (forWrite && i == 0) {
        FD_SET(sockets[i], &writable);
        FD_SET(sockets[i], &failed);  // a failed connect shows here, not as writable
      } else {
        FD_SET(sockets[i], &readable);
      }
    }
    timeval tv{static_cast<long>(slice / 1000), static_cast<long>(slice % 1000 * 1000)};
    const int n = select(0, &readable, &writable, &failed, slice == kInfinite ? nullptr : &tv);
    if (n == SOCKET_ERROR) return ErrorClass(WSAGetLastError());
    if (n > 0) {
      for (int i = 0; i < count; ++i)
        ready[i] = FD_ISSET(sockets[i], &readable) || FD_ISSET(sockets[i], &writable) || FD_ISSET(sockets[i], &failed);
      return SocketWait::Ready;
    }
    if (cancellable) cancellation::ThrowIfRequested();
    if (ms != kInfinite && TickCount() - start >= ms) return SocketWait::Timeout;
  }
}

// Before a read that may block: in a thread the seam can end, the blocking happens in a wait that
// watches its cancel event, bounded by the socket's receive time-out. False when the read is to
// fail at once (time-out or a broken socket).
bool WaitBeforeRead(SOCKET s) {
  if (!cancellation::WatchedEvent() || NonBlocking().Has(s)) return true;
  DWORD timeout = 0;
  int length = sizeof timeout;
  if (getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), &length) != 0) timeout = 0;
  bool ready = false;
  for (;;) {
    switch (Select(&s, 1, false, timeout == 0 ? kInfinite : timeout, &ready)) {
      case SocketWait::Ready:
        return true;
      case SocketWait::Retry:
        continue;
      case SocketWait::Timeout:
        WSASetLastError(WSAETIMEDOUT);
        return false;
      default:
        return false;
    }
  }
}

sockaddr_in ToSockaddr(const SocketAddress& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = a.port;
  sa.sin_addr.s_addr = a.address;
  return sa;
}

void FillFrom(const sockaddr_in& sa, SocketAddress* from) {
  *from = SocketAddress();
  from->family = sa.sin_family;
  from->port = sa.sin_port;
  from->address = sa.sin_addr.s_addr;
}

bool MulticastMembership(SocketHandle s, const char* group, int option) {
  if (s == kInvalidSocket || !group) return false;
  ip_mreq request{};
  if (inet_pton(AF_INET, group, &request.imr_multiaddr) != 1) return false;
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  return setsockopt(Sock(s), IPPROTO_IP, option, reinterpret_cast<const char*>(&request), sizeof request) == 0;
}

bool ReadableNow(SOCKET s) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval zero{0, 0};
  return select(0, &readable, nullptr, nullptr, &zero) == 1;
}

// One recvfrom: size, or -1. A datagram larger than the buffer fills it and is reported truncated.
int ReceiveDatagram(SOCKET s, void* buffer, size_t size, sockaddr_in* from, bool* truncated) {
  *truncated = false;
  const int capacity = static_cast<int>(std::min<size_t>(size, 0x7FFFFFFF));
  int length = sizeof *from;
  const int n = recvfrom(s, static_cast<char*>(buffer), capacity, 0, reinterpret_cast<sockaddr*>(from), &length);
  if (n != SOCKET_ERROR) return n;
  if (WSAGetLastError() == WSAEMSGSIZE) {
    *truncated = true;
    return capacity;
  }
  return -1;
}

}  // namespace

uint16_t SocketAddress::HostPort() const { return ntohs(port); }

SocketAddress SocketAddress::IPv4(uint32_t networkAddress, uint16_t hostPort) {
  SocketAddress a;
  a.family = AF_INET;
  a.port = htons(hostPort);
  a.address = networkAddress;
  return a;
}

void CloseSocket(SocketHandle s) {
  if (s == kInvalidSocket) return;
  NonBlocking().Set(Sock(s), false);
  closesocket(Sock(s));
}

void ShutdownSocket(SocketHandle s) {
  if (s != kInvalidSocket) shutdown(Sock(s), SD_BOTH);
}

bool SetReceiveBufferSize(SocketHandle s, int bytes) {
  return s != kInvalidSocket &&
         setsockopt(Sock(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool SetReceiveTimeout(SocketHandle s, uint32_t ms) {
  const DWORD value = ms;
  return s != kInvalidSocket &&
         setsockopt(Sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool SetSendTimeout(SocketHandle s, uint32_t ms) {
  const DWORD value = ms;
  return s != kInvalidSocket &&
         setsockopt(Sock(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool SetBlocking(SocketHandle s, bool blocking) {
  if (s == kInvalidSocket) return false;
  u_long nonBlocking = blocking ? 0 : 1;
  if (ioctlsocket(Sock(s), FIONBIO, &nonBlocking) != 0) return false;
  NonBlocking().Set(Sock(s), !blocking);
  return true;
}

uint16_t LocalPort(SocketHandle s) {
  if (s == kInvalidSocket) return 0;
  sockaddr_in sa{};
  int length = sizeof sa;
  if (getsockname(Sock(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET) return 0;
  return ntohs(sa.sin_port);
}

SocketWait WaitReadable(SocketHandle s, uint32_t ms) {
  if (s == kInvalidSocket) return SocketWait::Invalid;
  const SOCKET list[1] = {Sock(s)};
  bool ready[1];
  return Select(list, 1, false, ms, ready);
}

SocketHandle CreateTcpSocket() {
  if (!socket_startup::EnsureStarted()) return kInvalidSocket;
  const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

ConnectStart StartConnect(SocketHandle s, uint32_t address, uint16_t port) {
  if (s == kInvalidSocket) return ConnectStart::Failed;
  const sockaddr_in sa = ToSockaddr(SocketAddress::IPv4(address, port));
  if (connect(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return ConnectStart::Connected;
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ? ConnectStart::InProgress : ConnectStart::Failed;
}

SocketWait WaitConnected(SocketHandle s, uint32_t ms) {
  if (s == kInvalidSocket) return SocketWait::Invalid;
  const SOCKET list[1] = {Sock(s)};
  bool ready[1];
  const SocketWait wait = Select(list, 1, true, ms, ready);
  if (wait != SocketWait::Ready) return wait;
  int error = 0;
  int length = sizeof error;
  if (getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0)
    return SocketWait::Invalid;
  // Connected sockets are writable; a refused one may show only in the failure set, with its
  // error already taken: only a connected socket has a peer.
  sockaddr_in peer{};
  int peerLength = sizeof peer;
  if (getpeername(Sock(s), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) return SocketWait::Invalid;
  return SocketWait::Ready;
}

int Send(SocketHandle s, const void* data, size_t size) {
  if (s == kInvalidSocket) return -1;
  const int n = send(Sock(s), static_cast<const char*>(data), static_cast<int>(std::min<size_t>(size, 0x7FFFFFFF)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int Receive(SocketHandle s, void* buffer, size_t size) {
  if (s == kInvalidSocket || !WaitBeforeRead(Sock(s))) return -1;
  const int n = recv(Sock(s), static_cast<char*>(buffer), static_cast<int>(std::min<size_t>(size, 0x7FFFFFFF)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

uint32_t PeerAddress(SocketHandle s) {
  if (s == kInvalidSocket) return 0;
  sockaddr_in sa{};
  int length = sizeof sa;
  if (getpeername(Sock(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET) return 0;
  return sa.sin_addr.s_addr;
}

bool Bind(SocketHandle s, uint32_t address, uint16_t port) {
  if (s == kInvalidSocket) return false;
  const sockaddr_in sa = ToSockaddr(SocketAddress::IPv4(address, port));
  return bind(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(SocketHandle s, int backlog) { return s != kInvalidSocket && listen(Sock(s), backlog) == 0; }

SocketHandle Accept(SocketHandle s) {
  if (s == kInvalidSocket || !WaitBeforeRead(Sock(s))) return kInvalidSocket;
  const SOCKET accepted = accept(Sock(s), nullptr, nullptr);
  if (accepted == INVALID_SOCKET) return kInvalidSocket;
  // An accepted socket takes over its listener's non-blocking mode; the seam's record follows it,
  // and the mode is set to blocking, as the seam promises.
  u_long nonBlocking = 0;
  ioctlsocket(accepted, FIONBIO, &nonBlocking);
  SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(accepted);
}

SocketHandle CreateUdpSocket() {
  if (!socket_startup::EnsureStarted()) return kInvalidSocket;
  const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Otherwise a datagram sent to a closed port makes the next read fail with "connection reset",
  // which a UDP reader must not take for the end of its socket. Not every system knows the option.
  BOOL reportResets = FALSE;
  DWORD ignored = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &reportResets, sizeof reportResets, nullptr, 0, &ignored, nullptr, nullptr);
  return static_cast<SocketHandle>(s);
}

bool SetReuseAddress(SocketHandle s) {
  const BOOL on = TRUE;
  return s != kInvalidSocket &&
         setsockopt(Sock(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool BindAny(SocketHandle s, uint16_t port) { return Bind(s, htonl(INADDR_ANY), port); }

bool JoinMulticastGroup(SocketHandle s, const char* group) { return MulticastMembership(s, group, IP_ADD_MEMBERSHIP); }

bool LeaveMulticastGroup(SocketHandle s, const char* group) {
  return MulticastMembership(s, group, IP_DROP_MEMBERSHIP);
}

int ReceiveFrom(SocketHandle s, void* buffer, size_t size, SocketAddress* from, bool* truncated) {
  if (truncated) *truncated = false;
  if (s == kInvalidSocket) return -1;
  for (;;) {
    if (!WaitBeforeRead(Sock(s))) return -1;
    sockaddr_in sa{};
    bool cut = false;
    const int n = ReceiveDatagram(Sock(s), buffer, size, &sa, &cut);
    // A reset reported for an earlier send is no datagram; where the system still reports one,
    // the read goes on.
    if (n < 0 && WSAGetLastError() == WSAECONNRESET) continue;
    if (n < 0) return -1;
    if (truncated) *truncated = cut;
    if (from) FillFrom(sa, from);
    return n;
  }
}

int ReceiveFromNow(SocketHandle s, void* buffer, size_t size) {
  if (s == kInvalidSocket) return -1;
  sockaddr_in sa{};
  bool cut = false;
  // The blocking state of the socket stays as it is: only a socket with a datagram waiting is read.
  while (ReadableNow(Sock(s))) {
    const int n = ReceiveDatagram(Sock(s), buffer, size, &sa, &cut);
    if (n >= 0 || WSAGetLastError() != WSAECONNRESET) return n;
  }
  return -1;
}

int SendTo(SocketHandle s, const void* data, size_t size, const SocketAddress& to) {
  if (s == kInvalidSocket) return -1;
  const sockaddr_in sa = ToSockaddr(to);
  const int n = sendto(Sock(s), static_cast<const char*>(data), static_cast<int>(std::min<size_t>(size, 0x7FFFFFFF)), 0,
                       reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n == SOCKET_ERROR ? -1 : n;
}

int ReceiveBatch(SocketHandle s, Datagram* datagrams, int count) {
  if (s == kInvalidSocket || !datagrams || count <= 0) return -1;
  // One datagram per call: the system has no call that reads several.
  int filled = 0;
  int resets = 0;
  while (filled < count && ReadableNow(Sock(s))) {
    Datagram& d = datagrams[filled];
    sockaddr_in sa{};
    bool cut = false;
    const int n = ReceiveDatagram(Sock(s), d.buffer, d.capacity, &sa, &cut);
    if (n < 0) {
      const int error = WSAGetLastError();
      if (error == WSAECONNRESET && ++resets <= count) continue;
      if (error == WSAEWOULDBLOCK) break;
      return filled > 0 ? filled : -1;
    }
    d.size = static_cast<size_t>(n);
    d.truncated = cut;
    FillFrom(sa, &d.from);
    ++filled;
  }
  return filled;
}

// A waker is a UDP socket on loopback sending to itself: readable while woken.
struct Waker {
  SOCKET socket = INVALID_SOCKET;
};

Waker* CreateWaker() {
  if (!socket_startup::EnsureStarted()) return nullptr;
  const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return nullptr;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof sa;
  u_long nonBlocking = 1;
  auto* w = new (std::nothrow) Waker;
  if (!w || bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&sa), &length) != 0 ||
      connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    closesocket(s);
    delete w;
    return nullptr;
  }
  w->socket = s;
  return w;
}

void DestroyWaker(Waker* waker) {
  if (!waker) return;
  closesocket(waker->socket);
  delete waker;
}

void Wake(Waker* waker) {
  if (!waker) return;
  const char one = 1;
  send(waker->socket, &one, 1, 0);  // a full queue is already woken
}

void ResetWaker(Waker* waker) {
  if (!waker) return;
  char scratch[64];
  while (recv(waker->socket, scratch, sizeof scratch, 0) != SOCKET_ERROR || WSAGetLastError() == WSAEMSGSIZE) {
  }
}

SocketWait WaitReadable(SocketHandle s, Waker* waker, uint32_t ms, bool* woken) {
  if (woken) *woken = false;
  if (!waker) return WaitReadable(s, ms);
  if (s == kInvalidSocket) return SocketWait::Invalid;
  const SOCKET list[2] = {Sock(s), waker->socket};
  bool ready[2];
  const SocketWait result = Select(list, 2, false, ms, ready);
  if (result == SocketWait::Ready && woken && ready[1]) *woken = true;
  return result;
}

}  // namespace norvale::platform
