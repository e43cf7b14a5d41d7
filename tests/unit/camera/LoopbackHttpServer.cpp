#include "unit/camera/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace zephrin::test {

namespace {

int ListenLoopback(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket");
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
    close(fd);
    throw std::runtime_error("bind/listen");
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t a = text.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return text.substr(a, text.find_last_not_of(" \t") - a + 1);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 302:
      return "Found";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

bool HttpConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool HttpConnection::Reply(int status, const std::string& body, const std::string& extraHeaders) {
  return Send("HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
}

bool HttpConnection::WaitForStop(int ms) { return server_.WaitForStop(ms); }

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = ListenLoopback(&port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() { Stop(); }

void LoopbackHttpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.exchange(true)) return;
    for (int fd : clientFds_) shutdown(fd, SHUT_RDWR);
  }
  stopped_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& t : clients_) t.join();
  close(listenFd_);
}

bool LoopbackHttpServer::WaitForStop(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

std::vector<HttpServerRequest> LoopbackHttpServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int fd = accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    const int connection = ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      close(fd);
      break;
    }
    clientFds_.push_back(fd);
    clients_.emplace_back([this, fd, connection] { Serve(fd, connection); });
  }
}

void LoopbackHttpServer::Serve(int fd, int connection) {
  HttpConnection conn(*this, fd);
  std::string pending;
  char chunk[4096];
  // Appends the next bytes of the connection; false when it closed or the server stops.
  auto receive = [&] {
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (stopping_) return false;
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      pending.append(chunk, static_cast<size_t>(n));
      return true;
    }
  };
  for (;;) {
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos)
      if (!receive()) goto done;
    {
      HttpServerRequest request;
      request.connection = connection;
      const std::string head = pending.substr(0, end);
      pending.erase(0, end + 4);
      size_t lineEnd = head.find("\r\n");
      const std::string requestLine = head.substr(0, lineEnd);
      const size_t s1 = requestLine.find(' '), s2 = requestLine.rfind(' ');
      request.method = requestLine.substr(0, s1);
      request.target = s1 == s2 ? std::string() : requestLine.substr(s1 + 1, s2 - s1 - 1);
      request.version = requestLine.substr(s2 + 1);
      while (lineEnd != std::string::npos) {
        const size_t next = head.find("\r\n", lineEnd + 2);
        const std::string line =
            head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
        const size_t colon = line.find(':');
        if (colon != std::string::npos)
          request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
        lineEnd = next;
      }
      // A body (a POST's) follows the header block.
      const size_t length = std::strtoul(request.Header("content-length").c_str(), nullptr, 10);
      while (pending.size() < length)
        if (!receive()) goto done;
      request.body = pending.substr(0, length);
      pending.erase(0, length);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      if (!handler_(request, conn)) break;
    }
  }
done:
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = clientFds_.begin(); it != clientFds_.end(); ++it)
    if (*it == fd) {
      clientFds_.erase(it);
      break;
    }
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

uint16_t ClosedLoopbackPort() {
  uint16_t port = 0;
  const int fd = ListenLoopback(&port);
  close(fd);  // nothing listens there any more
  return port;
}

}  // namespace zephrin::test
