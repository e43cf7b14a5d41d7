#pragma once
// A raw HTTP/1.1 server on a loopback port for the sender tests: every connection runs on its own
// thread, requests are parsed from the socket and answered by the test's handler, which writes
// whatever bytes it likes (odd statuses, stalls, huge bodies, authentication challenges).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace zephrin::test {

struct HttpServerRequest {
  std::string method;
  std::string target;
  std::string version;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;                            // as long as its Content-Length
  int connection = 0;                          // 1 for the first accepted connection, and so on
  std::string Header(const std::string& lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
  }
};

class LoopbackHttpServer;

// What a handler answers with.
class HttpConnection {
 public:
  HttpConnection(LoopbackHttpServer& server, norvale::platform::SocketHandle socket)
      : server_(server), socket_(socket) {}
  bool Send(const std::string& bytes);
  // A complete answer with Content-Length.
  bool Reply(int status, const std::string& body = "", const std::string& extraHeaders = "");
  // Blocks until the server stops or ms pass; true when the server is stopping.
  bool WaitForStop(int ms);

 private:
  LoopbackHttpServer& server_;
  norvale::platform::SocketHandle socket_;
};

class LoopbackHttpServer {
 public:
  // Returns false to close the connection after the answer.
  using Handler = std::function<bool(const HttpServerRequest&, HttpConnection&)>;

  explicit LoopbackHttpServer(Handler handler);
  ~LoopbackHttpServer();

  uint16_t Port() const { return port_; }
  int Connections() const { return connections_.load(); }
  std::vector<HttpServerRequest> Requests();
  void Stop();
  bool Stopping() const { return stopping_.load(); }
  bool WaitForStop(int ms);

 private:
  void AcceptLoop();
  void Serve(norvale::platform::SocketHandle socket, int connection);

  Handler handler_;
  bool socketLibrary_ = false;
  norvale::platform::SocketHandle listener_ = norvale::platform::kInvalidSocket;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::condition_variable stopped_;
  std::vector<HttpServerRequest> requests_;
  std::vector<norvale::platform::SocketHandle> clientSockets_;
  std::vector<std::thread> clients_;
  std::thread acceptor_;
};

// A port on 127.0.0.1 where nothing listens.
uint16_t ClosedLoopbackPort();

}  // namespace zephrin::test
