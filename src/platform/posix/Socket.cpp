// POSIX sockets. Waits use poll, so any descriptor number works; sends never raise SIGPIPE.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvale::platform {

namespace {

int Fd(SocketHandle s) { return static_cast<int>(s); }

timeval ToTimeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return tv;
}

SocketWait Poll(SocketHandle s, short events, uint32_t ms) {
  if (s == kInvalidSocket) return SocketWait::Invalid;
  pollfd p{};
  p.fd = Fd(s);
  p.events = events;
  const int timeout = ms > 0x7FFFFFFFu ? -1 : static_cast<int>(ms);
  const int n = poll(&p, 1, timeout);
  if (n < 0) {
    switch (errno) {
      case EINTR:
      case ENOMEM:
      case EAGAIN: return SocketWait::Retry;
      case EFAULT: return SocketWait::Fatal;
      default: return SocketWait::Invalid;
    }
  }
  if (n == 0) return SocketWait::Timeout;
  if (p.revents & POLLNVAL) return SocketWait::Invalid;
  return SocketWait::Ready;  // readable, writable, or an error the next call reports
}

sockaddr_in ToSockaddr(const SocketAddress& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = a.port;
  sa.sin_addr.s_addr = a.address;
  return sa;
}

bool MulticastMembership(SocketHandle s, const char* group, int option) {
  if (s == kInvalidSocket || !group) return false;
  ip_mreq request{};
  if (inet_pton(AF_INET, group, &request.imr_multiaddr) != 1) return false;
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  return setsockopt(Fd(s), IPPROTO_IP, option, &request, sizeof request) == 0;
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
  if (s != kInvalidSocket) close(Fd(s));
}

void ShutdownSocket(SocketHandle s) {
  if (s != kInvalidSocket) shutdown(Fd(s), SHUT_RDWR);
}

bool SetReceiveBufferSize(SocketHandle s, int bytes) {
  return s != kInvalidSocket && setsockopt(Fd(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool SetReceiveTimeout(SocketHandle s, uint32_t ms) {
  const timeval tv = ToTimeval(ms);
  return s != kInvalidSocket && setsockopt(Fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SetSendTimeout(SocketHandle s, uint32_t ms) {
  const timeval tv = ToTimeval(ms);
  return s != kInvalidSocket && setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool SetBlocking(SocketHandle s, bool blocking) {
  if (s == kInvalidSocket) return false;
  const int flags = fcntl(Fd(s), F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(Fd(s), F_SETFL, wanted) == 0;
}

uint16_t LocalPort(SocketHandle s) {
  if (s == kInvalidSocket) return 0;
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET) return 0;
  return ntohs(sa.sin_port);
}

SocketWait WaitReadable(SocketHandle s, uint32_t ms) { return Poll(s, POLLIN, ms); }

SocketHandle CreateTcpSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : fd;
}

ConnectStart StartConnect(SocketHandle s, uint32_t address, uint16_t port) {
  if (s == kInvalidSocket) return ConnectStart::Failed;
  const sockaddr_in sa = ToSockaddr(SocketAddress::IPv4(address, port));
  int rc;
  do {
    rc = connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return ConnectStart::Connected;
  return errno == EINPROGRESS || errno == EWOULDBLOCK ? ConnectStart::InProgress : ConnectStart::Failed;
}

SocketWait WaitConnected(SocketHandle s, uint32_t ms) {
  const SocketWait wait = Poll(s, POLLOUT, ms);
  if (wait != SocketWait::Ready) return wait;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return SocketWait::Invalid;
  return SocketWait::Ready;
}

int Send(SocketHandle s, const void* data, size_t size) {
  if (s == kInvalidSocket) return -1;
  ssize_t n;
  do {
    n = send(Fd(s), data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int Receive(SocketHandle s, void* buffer, size_t size) {
  if (s == kInvalidSocket) return -1;
  ssize_t n;
  do {
    n = recv(Fd(s), buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

uint32_t PeerAddress(SocketHandle s) {
  if (s == kInvalidSocket) return 0;
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  if (getpeername(Fd(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET) return 0;
  return sa.sin_addr.s_addr;
}

SocketHandle CreateUdpSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  return fd < 0 ? kInvalidSocket : fd;
}

bool SetReuseAddress(SocketHandle s) {
  const int on = 1;
  return s != kInvalidSocket && setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool BindAny(SocketHandle s, uint16_t port) {
  if (s == kInvalidSocket) return false;
  const sockaddr_in sa = ToSockaddr(SocketAddress::IPv4(htonl(INADDR_ANY), port));
  return bind(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool JoinMulticastGroup(SocketHandle s, const char* group) { return MulticastMembership(s, group, IP_ADD_MEMBERSHIP); }

bool LeaveMulticastGroup(SocketHandle s, const char* group) {
  return MulticastMembership(s, group, IP_DROP_MEMBERSHIP);
}

int ReceiveFrom(SocketHandle s, void* buffer, size_t size, SocketAddress* from, bool* truncated) {
  if (truncated) *truncated = false;
  if (s == kInvalidSocket) return -1;
  sockaddr_in sa{};
  iovec io{buffer, size};
  msghdr message{};
  message.msg_name = &sa;
  message.msg_namelen = sizeof sa;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  ssize_t n;
  do {
    n = recvmsg(Fd(s), &message, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  if (truncated) *truncated = (message.msg_flags & MSG_TRUNC) != 0;
  if (from) {
    *from = SocketAddress();
    from->family = sa.sin_family;
    from->port = sa.sin_port;
    from->address = sa.sin_addr.s_addr;
  }
  return static_cast<int>(n);
}

int ReceiveFromNow(SocketHandle s, void* buffer, size_t size) {
  if (s == kInvalidSocket) return -1;
  const ssize_t n = recv(Fd(s), buffer, size, MSG_DONTWAIT);
  return n < 0 ? -1 : static_cast<int>(n);
}

int SendTo(SocketHandle s, const void* data, size_t size, const SocketAddress& to) {
  if (s == kInvalidSocket) return -1;
  const sockaddr_in sa = ToSockaddr(to);
  ssize_t n;
  do {
    n = sendto(Fd(s), data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

}  // namespace norvale::platform
