#pragma once
// A loopback TCP server that plays a script to whoever connects: for each request it reads up to the
// empty line that ends the request's header block, writes the next scripted answer in the scripted
// pieces and, when the script says so, closes the connection. The fuzz targets drive the driver's real
// socket code against it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zephrin::fuzz {

struct PlayedAnswer {
  std::string bytes;
  std::vector<size_t> pieces;  // sizes of the writes; the rest in one write
  bool close = true;           // close the connection after this answer
};

class LoopbackPlayer {
 public:
  LoopbackPlayer() {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(listen_, 16) != 0) std::abort();
    socklen_t length = sizeof sa;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &length);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackPlayer() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }

  uint16_t Port() const { return port_; }

  // The answers for the next exchanges, in order; requests beyond them find the connection closed.
  void Load(std::vector<PlayedAnswer> script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
    next_ = 0;
    requests_.clear();
  }
  // Requests received since Load (header blocks).
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int fd = accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      Converse(fd);
      close(fd);
    }
  }

  void Converse(int fd) {
    std::string received;
    for (;;) {
      // Read one header block (a request body is never sent by the driver).
      size_t end;
      while ((end = received.find("\r\n\r\n")) == std::string::npos) {
        if (!WaitReadable(fd)) return;
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        received.append(buffer, static_cast<size_t>(n));
      }
      PlayedAnswer answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(received.substr(0, end + 4));
        if (next_ >= script_.size()) return;
        answer = script_[next_++];
      }
      received.erase(0, end + 4);
      size_t at = 0;
      for (size_t piece : answer.pieces) {
        if (at >= answer.bytes.size()) break;
        const size_t n = std::min(piece, answer.bytes.size() - at);
        if (!SendAll(fd, answer.bytes.data() + at, n)) return;
        at += n;
      }
      if (at < answer.bytes.size() && !SendAll(fd, answer.bytes.data() + at, answer.bytes.size() - at)) return;
      if (answer.close) return;  // the caller closes: the client sees the end after the bytes
    }
  }

  bool WaitReadable(int fd) {
    for (int waited = 0; waited < 5000 && !stop_; waited += 10) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) return true;
    }
    return false;
  }

  static bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<PlayedAnswer> script_;
  size_t next_ = 0;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace zephrin::fuzz
