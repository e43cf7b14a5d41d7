#include "unit/camera/LoopbackHttpServer.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "platform/SocketLibrary.h"

namespace zephrin::test {

namespace platform = norvale::platform;

namespace {

platform::SocketHandle ListenLoopback(uint16_t* port) {
  const platform::SocketHandle s = platform::CreateTcpSocket();
  if (s == platform::kInvalidSocket) throw std::runtime_error("socket");
  if (platform::Bind(s, platform::IPv4Address(127, 0, 0, 1), 0) && platform::Listen(s, 16)) {
    *port = platform::LocalPort(s);
    if (*port != 0) return s;
  }
  platform::CloseSocket(s);
  throw std::runtime_error("bind/listen");
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

// How long an answer waits for a client that reads nothing before it gives up.
constexpr int kSendStallMs = 3000;
constexpr uint32_t kSendSliceMs = 20;

}  // namespace

bool HttpConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  int stalledMs = 0;
  while (sent < bytes.size()) {
    if (server_.Stopping() || stalledMs >= kSendStallMs) return false;
    const int n = platform::Send(socket_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      stalledMs = 0;
      continue;
    }
    // No room in the client's buffers, or a broken connection: wait for room a slice at a time.
    const platform::SocketWait wait = platform::WaitConnected(socket_, kSendSliceMs);
    if (wait == platform::SocketWait::Invalid || wait == platform::SocketWait::Fatal) return false;
    stalledMs += static_cast<int>(kSendSliceMs);
  }
  return true;
}

bool HttpConnection::Reply(int status, const std::string& body, const std::string& extraHeaders) {
  return Send("HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
}

bool HttpConnection::WaitForStop(int ms) { return server_.WaitForStop(ms); }

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
  socketLibrary_ = platform::StartSocketLibrary();
  if (!socketLibrary_) throw std::runtime_error("socket library");
  listener_ = ListenLoopback(&port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() { Stop(); }

void LoopbackHttpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.exchange(true)) return;
    for (platform::SocketHandle s : clientSockets_) platform::ShutdownSocket(s);
  }
  stopped_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& t : clients_) t.join();
  platform::CloseSocket(listener_);
  if (socketLibrary_) platform::StopSocketLibrary();
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
    if (platform::WaitReadable(listener_, 50) != platform::SocketWait::Ready) continue;
    const platform::SocketHandle s = platform::Accept(listener_);
    if (s == platform::kInvalidSocket) continue;
    // Sends never block: under Wine a blocked send may miss the client's reset and Stop's shutdown.
    platform::SetBlocking(s, false);
    const int connection = ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      platform::CloseSocket(s);
      break;
    }
    clientSockets_.push_back(s);
    clients_.emplace_back([this, s, connection] { Serve(s, connection); });
  }
}

void LoopbackHttpServer::Serve(platform::SocketHandle s, int connection) {
  HttpConnection conn(*this, s);
  std::string pending;
  char chunk[4096];
  // Appends the next bytes of the connection; false when it closed or the server stops.
  auto receive = [&] {
    for (;;) {
      if (stopping_) return false;
      if (platform::WaitReadable(s, 50) != platform::SocketWait::Ready) continue;
      const int n = platform::Receive(s, chunk, sizeof chunk);
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
  for (auto it = clientSockets_.begin(); it != clientSockets_.end(); ++it)
    if (*it == s) {
      clientSockets_.erase(it);
      break;
    }
  platform::ShutdownSocket(s);
  platform::CloseSocket(s);
}

uint16_t ClosedLoopbackPort() {
  if (!platform::StartSocketLibrary()) throw std::runtime_error("socket library");
  uint16_t port = 0;
  platform::CloseSocket(ListenLoopback(&port));  // nothing listens there any more
  platform::StopSocketLibrary();
  return port;
}

}  // namespace zephrin::test
