#pragma once
// A plain UDP socket on loopback for sending datagrams to the code under test.
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "support/WaitUntil.h"

namespace zephrin::test {

inline uint32_t LoopbackAddress() { return norvale::platform::IPv4Address(127, 0, 0, 1); }

class UdpTestSocket {
 public:
  UdpTestSocket() {
    namespace platform = norvale::platform;
    socket_ = platform::CreateUdpSocket();
    platform::Bind(socket_, LoopbackAddress(), 0);
    port_ = platform::LocalPort(socket_);
  }
  ~UdpTestSocket() { norvale::platform::CloseSocket(socket_); }
  UdpTestSocket(const UdpTestSocket&) = delete;
  UdpTestSocket& operator=(const UdpTestSocket&) = delete;

  bool SendTo(uint16_t port, const std::vector<uint8_t>& data) {
    namespace platform = norvale::platform;
    return platform::SendTo(socket_, data.data(), data.size(),
                            platform::SocketAddress::IPv4(LoopbackAddress(), port)) == static_cast<int>(data.size());
  }
  // One datagram, or empty after ms without one.
  std::vector<uint8_t> Receive(int ms) {
    namespace platform = norvale::platform;
    std::vector<uint8_t> buffer(65536);
    int n = -1;
    if (platform::WaitReadable(socket_, static_cast<uint32_t>(ms)) == platform::SocketWait::Ready)
      n = platform::ReceiveFrom(socket_, buffer.data(), buffer.size(), nullptr, nullptr);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
  }
  uint16_t Port() const { return port_; }

 private:
  norvale::platform::SocketHandle socket_ = norvale::platform::kInvalidSocket;
  uint16_t port_ = 0;
};

}  // namespace zephrin::test
