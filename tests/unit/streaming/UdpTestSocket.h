#pragma once
// A plain UDP socket on loopback for sending datagrams to the code under test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace zephrin::test {

class UdpTestSocket {
 public:
  UdpTestSocket() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t length = sizeof sa;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &length);
    port_ = ntohs(sa.sin_port);
  }
  ~UdpTestSocket() { close(fd_); }
  UdpTestSocket(const UdpTestSocket&) = delete;
  UdpTestSocket& operator=(const UdpTestSocket&) = delete;

  bool SendTo(uint16_t port, const std::vector<uint8_t>& data) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) ==
           static_cast<ssize_t>(data.size());
  }
  // One datagram, or empty after ms without one.
  std::vector<uint8_t> Receive(int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::vector<uint8_t> buffer(65536);
    const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
  }
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Polls pred until it holds or ms pass; returns its last value. Bounds a wait, measures nothing.
inline bool WaitUntil(const std::function<bool()>& pred, int ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace zephrin::test
