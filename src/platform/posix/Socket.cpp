// POSIX sockets. Waits use poll, so any descriptor number works; sends never raise SIGPIPE.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#ifdef __linux__
#include <sys/eventfd.h>
#endif
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace norvale::platform {

namespace {

int Fd(SocketHandle s) { return static_cast<int>(s); }

timeval ToTimeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return tv;
}

// Polls the descriptors; the first is the socket whose state the result tells.
SocketWait PollFirst(pollfd* p, nfds_t count, uint32_t ms) {
  const int timeout = ms > 0x7FFFFFFFu ? -1 : static_cast<int>(ms);
  const int n = poll(p, count, timeout);
  if (n < 0) {
    switch (errno) {
      case EINTR:
      case ENOMEM:
      case EAGAIN:
        return SocketWait::Retry;
      case EFAULT:
        return SocketWait::Fatal;
      default:
        return SocketWait::Invalid;
    }
  }
  if (n == 0) return SocketWait::Timeout;
  if (p[0].revents & POLLNVAL) return SocketWait::Invalid;
  return SocketWait::Ready;  // readable, writable, or an error the next call reports
}

SocketWait Poll(SocketHandle s, short events, uint32_t ms) {
  if (s == kInvalidSocket) return SocketWait::Invalid;
  pollfd p{};
  p.fd = Fd(s);
  p.events = events;
  return PollFirst(&p, 1, ms);
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

bool Bind(SocketHandle s, uint32_t address, uint16_t port) {
  if (s == kInvalidSocket) return false;
  const sockaddr_in sa = ToSockaddr(SocketAddress::IPv4(address, port));
  return bind(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(SocketHandle s, int backlog) { return s != kInvalidSocket && listen(Fd(s), backlog) == 0; }

SocketHandle Accept(SocketHandle s) {
  if (s == kInvalidSocket) return kInvalidSocket;
  int fd;
  do {
    fd = accept4(Fd(s), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kInvalidSocket : fd;
}

SocketHandle CreateUdpSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  return fd < 0 ? kInvalidSocket : fd;
}

bool SetReuseAddress(SocketHandle s) {
  const int on = 1;
  return s != kInvalidSocket && setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool BindAny(SocketHandle s, uint16_t port) { return Bind(s, htonl(INADDR_ANY), port); }

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

namespace {
void FillFrom(const sockaddr_in& sa, SocketAddress* from) {
  *from = SocketAddress();
  from->family = sa.sin_family;
  from->port = sa.sin_port;
  from->address = sa.sin_addr.s_addr;
}
}  // namespace

int ReceiveBatch(SocketHandle s, Datagram* datagrams, int count) {
  if (s == kInvalidSocket || !datagrams || count <= 0) return -1;
#ifdef __linux__
  constexpr int kMaxBatch = 64;
  if (count > kMaxBatch) count = kMaxBatch;
  mmsghdr messages[kMaxBatch];
  iovec io[kMaxBatch];
  sockaddr_in names[kMaxBatch];
  for (int i = 0; i < count; ++i) {
    io[i] = iovec{datagrams[i].buffer, datagrams[i].capacity};
    messages[i] = mmsghdr{};
    messages[i].msg_hdr.msg_name = &names[i];
    messages[i].msg_hdr.msg_namelen = sizeof names[i];
    messages[i].msg_hdr.msg_iov = &io[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  int n;
  do {
    n = recvmmsg(Fd(s), messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  for (int i = 0; i < n; ++i) {
    datagrams[i].size = messages[i].msg_len;
    datagrams[i].truncated = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
    FillFrom(names[i], &datagrams[i].from);
  }
  return n;
#else
  int filled = 0;
  for (; filled < count; ++filled) {
    Datagram& d = datagrams[filled];
    sockaddr_in sa{};
    iovec io{d.buffer, d.capacity};
    msghdr message{};
    message.msg_name = &sa;
    message.msg_namelen = sizeof sa;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    ssize_t n;
    do {
      n = recvmsg(Fd(s), &message, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      return filled > 0 ? filled : -1;
    }
    d.size = static_cast<size_t>(n);
    d.truncated = (message.msg_flags & MSG_TRUNC) != 0;
    FillFrom(sa, &d.from);
  }
  return filled;
#endif
}

// A waker is an eventfd on Linux (a pipe elsewhere): readable while woken.
struct Waker {
  int readFd = -1;
  int writeFd = -1;
};

Waker* CreateWaker() {
  auto* w = new (std::nothrow) Waker;
  if (!w) return nullptr;
#ifdef __linux__
  w->readFd = w->writeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (w->readFd < 0) {
    delete w;
    return nullptr;
  }
#else
  int fds[2];
  if (pipe(fds) != 0) {
    delete w;
    return nullptr;
  }
  for (int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  w->readFd = fds[0];
  w->writeFd = fds[1];
#endif
  return w;
}

void DestroyWaker(Waker* waker) {
  if (!waker) return;
  close(waker->readFd);
  if (waker->writeFd != waker->readFd) close(waker->writeFd);
  delete waker;
}

void Wake(Waker* waker) {
  if (!waker) return;
#ifdef __linux__
  const uint64_t one = 1;
  ssize_t n;
  do {
    n = write(waker->writeFd, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
#else
  const uint8_t one = 1;
  ssize_t n;
  do {
    n = write(waker->writeFd, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
#endif
  (void)n;  // a full counter or pipe is already woken
}

void ResetWaker(Waker* waker) {
  if (!waker) return;
  uint8_t scratch[64];
  while (read(waker->readFd, scratch, sizeof scratch) > 0) {
  }
}

SocketWait WaitReadable(SocketHandle s, Waker* waker, uint32_t ms, bool* woken) {
  if (woken) *woken = false;
  if (!waker) return WaitReadable(s, ms);
  if (s == kInvalidSocket) return SocketWait::Invalid;
  pollfd p[2]{};
  p[0].fd = Fd(s);
  p[0].events = POLLIN;
  p[1].fd = waker->readFd;
  p[1].events = POLLIN;
  const SocketWait result = PollFirst(p, 2, ms);
  if (result == SocketWait::Ready && woken && p[1].revents != 0) *woken = true;
  return result;
}

}  // namespace norvale::platform
