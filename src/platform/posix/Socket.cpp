// POSIX sockets. Waits use poll, so any descriptor number works; sends never raise SIGPIPE.
#include "platform/Socket.h"

#include "platform/Platform.h"

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

#include <atomic>
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

namespace {
void FillFrom(const sockaddr_in& sa, SocketAddress* from) {
  *from = SocketAddress();
  from->family = sa.sin_family;
  from->port = sa.sin_port;
  from->address = sa.sin_addr.s_addr;
}

// One datagram into buffer with recvmsg, retried when interrupted: its size or -1 (errno tells why),
// *sa the sender and *truncated whether the datagram was larger than the buffer.
ssize_t ReceiveOne(int fd, void* buffer, size_t size, int flags, sockaddr_in* sa, bool* truncated) {
  iovec io{buffer, size};
  msghdr message{};
  message.msg_name = sa;
  message.msg_namelen = sizeof *sa;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  ssize_t n;
  do {
    n = recvmsg(fd, &message, flags);
  } while (n < 0 && errno == EINTR);
  if (n >= 0) *truncated = (message.msg_flags & MSG_TRUNC) != 0;
  return n;
}
}  // namespace

int ReceiveFrom(SocketHandle s, void* buffer, size_t size, SocketAddress* from, bool* truncated) {
  if (truncated) *truncated = false;
  if (s == kInvalidSocket) return -1;
  sockaddr_in sa{};
  bool cut = false;
  const ssize_t n = ReceiveOne(Fd(s), buffer, size, 0, &sa, &cut);
  if (n < 0) return -1;
  if (truncated) *truncated = cut;
  if (from) FillFrom(sa, from);
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
#ifdef __linux__
// One recvmmsg into the slots: the number filled, or -1 with errno.
int ReceiveMessages(int fd, Datagram* datagrams, int count, int flags) {
  constexpr int kMaxBatch = 64;
  if (count > kMaxBatch) count = kMaxBatch;
  mmsghdr messages[kMaxBatch];
  iovec io[kMaxBatch];
  sockaddr_in names[kMaxBatch];
  for (int i = 0; i < count; ++i) {
    io[i] = iovec{datagrams[i].buffer, datagrams[i].capacity};
    names[i] = sockaddr_in{};  // a read that ends on a shut-down socket fills no address
    messages[i] = mmsghdr{};
    messages[i].msg_hdr.msg_name = &names[i];
    messages[i].msg_hdr.msg_namelen = sizeof names[i];
    messages[i].msg_hdr.msg_iov = &io[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  const int n = recvmmsg(fd, messages, static_cast<unsigned>(count), flags, nullptr);
  for (int i = 0; i < n; ++i) {
    datagrams[i].size = messages[i].msg_len;
    datagrams[i].truncated = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
    FillFrom(names[i], &datagrams[i].from);
  }
  return n;
}
#endif
}  // namespace

int ReceiveBatch(SocketHandle s, Datagram* datagrams, int count) {
  if (s == kInvalidSocket || !datagrams || count <= 0) return -1;
#ifdef __linux__
  int n;
  do {
    n = ReceiveMessages(Fd(s), datagrams, count, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  return n;
#else
  int filled = 0;
  for (; filled < count; ++filled) {
    Datagram& d = datagrams[filled];
    sockaddr_in sa{};
    const ssize_t n = ReceiveOne(Fd(s), d.buffer, d.capacity, MSG_DONTWAIT, &sa, &d.truncated);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      return filled > 0 ? filled : -1;
    }
    d.size = static_cast<size_t>(n);
    FillFrom(sa, &d.from);
  }
  return filled;
#endif
}

// A waker is an eventfd on Linux (a pipe elsewhere): readable while woken, for waits in poll. A thread
// asleep in ReceiveBatchWaiting is in the read itself, where no second descriptor can be watched:
// Wake sends that socket an empty datagram from itself, which ends the read and is never reported.
struct Waker {
  int readFd = -1;
  int writeFd = -1;
  std::atomic<bool> woken{false};
  std::atomic<int> reading{-1};  // the socket a ReceiveBatchWaiting sleeps on
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

namespace {
// The loopback address and port a socket bound to any address receives its own wake-up on.
bool WakeAddress(int fd, sockaddr_in* to) {
  socklen_t size = sizeof *to;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(to), &size) != 0 || to->sin_family != AF_INET) return false;
  to->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return true;
}

bool IsWakeDatagram(int fd, const Datagram& d) {
  if (d.size != 0 || d.from.address != htonl(INADDR_LOOPBACK)) return false;
  sockaddr_in own{};
  return WakeAddress(fd, &own) && own.sin_port == d.from.port;
}
}  // namespace

void Wake(Waker* waker) {
  if (!waker) return;
  waker->woken.store(true);
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
  const int fd = waker->reading.load();
  sockaddr_in to{};
  if (fd >= 0 && WakeAddress(fd, &to))
    (void)sendto(fd, nullptr, 0, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void ResetWaker(Waker* waker) {
  if (!waker) return;
  waker->woken.store(false);
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

SocketWait ReceiveBatchWaiting(SocketHandle s, Waker* waker, Datagram* datagrams, int count, int* received,
                               bool* woken) {
  *received = 0;
  *woken = false;
  if (s == kInvalidSocket || !datagrams || count <= 0) return SocketWait::Invalid;
#ifdef __linux__
  const int fd = Fd(s);
  if (waker) {
    // Announced before the flag is looked at, and Wake raises the flag before it looks here: a
    // wake-up either is seen now or sends its datagram to the read below.
    waker->reading.store(fd);
    if (waker->woken.load()) {
      waker->reading.store(-1);
      *woken = true;
      return SocketWait::Ready;
    }
  }
  const int n = ReceiveMessages(fd, datagrams, count, MSG_WAITFORONE);
  const int error = errno;
  if (waker) {
    waker->reading.store(-1);
    *woken = waker->woken.load();
  }
  if (n < 0) {
    switch (error) {
      case EAGAIN:
#if EWOULDBLOCK != EAGAIN
      case EWOULDBLOCK:
#endif
        return SocketWait::Timeout;
      case EINTR:
      case ENOMEM:
      case ECONNREFUSED:  // an earlier send's port-unreachable, reported once
        return SocketWait::Retry;
      case EFAULT:
        return SocketWait::Fatal;
      default:
        return SocketWait::Invalid;
    }
  }
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    if (IsWakeDatagram(fd, datagrams[i])) continue;
    if (kept != i) datagrams[kept] = datagrams[i];
    ++kept;
  }
  *received = kept;
  return SocketWait::Ready;
#else
  timeval tv{};
  socklen_t size = sizeof tv;
  uint32_t ms = 0;
  if (getsockopt(Fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, &size) == 0)
    ms = static_cast<uint32_t>(tv.tv_sec) * 1000u + static_cast<uint32_t>(tv.tv_usec / 1000);
  const SocketWait wait = WaitReadable(s, waker, ms == 0 ? kInfinite : ms, woken);
  if (wait != SocketWait::Ready) return wait;
  const int n = ReceiveBatch(s, datagrams, count);
  if (n < 0) return SocketWait::Retry;
  *received = n;
  return SocketWait::Ready;
#endif
}

}  // namespace norvale::platform
