#pragma once
// Sockets behind the OS seam: TCP for RTSP, UDP for RTP and RTCP. Every call is non-throwing and
// reports failure by its result; a closed or invalid socket is kInvalidSocket.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace norvale::platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// The IPv4 address a.b.c.d in network byte order.
inline uint32_t IPv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

// The 16 bytes of an IPv4 socket address as the socket layer fills them.
struct SocketAddress {
  uint16_t family = 0;
  uint16_t port = 0;     // network byte order
  uint32_t address = 0;  // network byte order
  uint8_t zero[8] = {};

  uint16_t HostPort() const;
  static SocketAddress IPv4(uint32_t networkAddress, uint16_t hostPort);
};
static_assert(sizeof(SocketAddress) == 16, "an IPv4 socket address has 16 bytes");

// Result of waiting for a socket.
enum class SocketWait {
  Ready,    // readable (or writable)
  Timeout,  // nothing within the time-out
  Fatal,    // the socket layer cannot serve this socket any longer (bad memory, network down)
  Invalid,  // the socket is not (or no longer) valid
  Retry,    // interrupted or a transient failure: wait again
};

// ---- common ---------------------------------------------------------------------------------------
void CloseSocket(SocketHandle s);
// Shuts the socket down for both directions (wakes a blocked reader); the handle stays valid.
void ShutdownSocket(SocketHandle s);
bool SetReceiveBufferSize(SocketHandle s, int bytes);
bool SetReceiveTimeout(SocketHandle s, uint32_t ms);
bool SetSendTimeout(SocketHandle s, uint32_t ms);
bool SetBlocking(SocketHandle s, bool blocking);
// Port the socket is bound to, in host order; 0 if unknown.
uint16_t LocalPort(SocketHandle s);
SocketWait WaitReadable(SocketHandle s, uint32_t ms);

// ---- TCP ------------------------------------------------------------------------------------------
SocketHandle CreateTcpSocket();
enum class ConnectStart { Connected, InProgress, Failed };
// Connects a non-blocking socket to an IPv4 address (network order) and port (host order).
ConnectStart StartConnect(SocketHandle s, uint32_t address, uint16_t port);
// Waits up to ms for a connect in progress: Ready once connected, Timeout, or an error class
// (a refused connection is Invalid).
SocketWait WaitConnected(SocketHandle s, uint32_t ms);
// Bytes sent, or -1. Never raises a signal on a closed connection.
int Send(SocketHandle s, const void* data, size_t size);
// Bytes received, 0 when the peer closed the connection, -1 on failure or the receive time-out.
int Receive(SocketHandle s, void* buffer, size_t size);
// IPv4 address (network order) of the connected peer; 0 if unknown.
uint32_t PeerAddress(SocketHandle s);
// The listening side (camera simulators, test servers): binds to an IPv4 address (network order)
// and port (host order; 0 lets the system choose), listens, and accepts one waiting connection.
bool Bind(SocketHandle s, uint32_t address, uint16_t port);
bool Listen(SocketHandle s, int backlog);
// The accepted connection, in blocking mode; kInvalidSocket on failure.
SocketHandle Accept(SocketHandle s);

// ---- UDP ------------------------------------------------------------------------------------------
SocketHandle CreateUdpSocket();
bool SetReuseAddress(SocketHandle s);
// Binds to any local address and the port (host order; 0 lets the system choose).
bool BindAny(SocketHandle s, uint16_t port);
bool JoinMulticastGroup(SocketHandle s, const char* group);
bool LeaveMulticastGroup(SocketHandle s, const char* group);
// One datagram into buffer: its size (at most size), -1 on failure or when nothing is waiting on a
// non-blocking read. *truncated tells whether the datagram was larger than the buffer (its rest is
// lost). from may be null.
int ReceiveFrom(SocketHandle s, void* buffer, size_t size, SocketAddress* from, bool* truncated);
// Like ReceiveFrom, but returns at once (-1) when no datagram is waiting.
int ReceiveFromNow(SocketHandle s, void* buffer, size_t size);
int SendTo(SocketHandle s, const void* data, size_t size, const SocketAddress& to);

// One slot of a batch read: the caller's buffer, and what the read put there.
struct Datagram {
  uint8_t* buffer = nullptr;
  size_t capacity = 0;
  size_t size = 0;         // bytes received (at most capacity)
  bool truncated = false;  // the datagram was larger than the buffer; its rest is lost
  SocketAddress from;
};
// Reads the datagrams already waiting, up to count, without blocking, with as few system calls as
// the system allows. Returns how many slots were filled (0 when nothing is waiting), -1 on failure.
int ReceiveBatch(SocketHandle s, Datagram* datagrams, int count);

// ---- wake-ups of socket waits ---------------------------------------------------------------------
// Lets another thread end a WaitReadable early (a stop). Once woken it stays woken until Reset.
struct Waker;  // opaque
Waker* CreateWaker();
void DestroyWaker(Waker* waker);
void Wake(Waker* waker);
void ResetWaker(Waker* waker);
// Waits until the socket is readable, the waker is woken, or ms pass. A woken wait returns Ready
// with *woken set (the socket may or may not be readable then).
SocketWait WaitReadable(SocketHandle s, Waker* waker, uint32_t ms, bool* woken);

}  // namespace norvale::platform
