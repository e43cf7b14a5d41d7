#pragma once
// A loopback RTSP server for client tests: it records every request byte, answers what the test's
// handler tells it, and can stream interleaved RTP frames after a reply.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "unit/streaming/RtpBytes.h"

namespace zephrin::test {

struct RtspRequest {
  std::string text;  // the whole request, request line to empty line
  std::string method;
  std::string url;
  uint32_t cseq = 0;
  int64_t atMs = 0;  // since the server started

  // Value of the first header of that name (exact case), empty if absent.
  std::string Header(const std::string& name) const {
    const std::string key = "\r\n" + name + ": ";
    const size_t at = text.find(key);
    if (at == std::string::npos) return {};
    const size_t start = at + key.size();
    return text.substr(start, text.find("\r\n", start) - start);
  }
};

struct RtspReply {
  std::string text;          // sent as it stands (may be empty)
  bool close = false;        // close the connection after sending
  size_t chunk = 0;          // send in pieces of this size, 2 ms apart (0: at once)
  bool startStream = false;  // after sending, stream interleaved RTP on channel 0 (and RTCP on 1)
  int framesBefore = 0;      // interleaved frames sent ahead of the reply (as if already in flight)
};

class ScriptedRtspServer {
 public:
  using Handler = std::function<RtspReply(const RtspRequest&)>;

  explicit ScriptedRtspServer(Handler handler) : handler_(std::move(handler)) {
    namespace platform = norvale::platform;
    listen_ = platform::CreateTcpSocket();
    platform::SetReuseAddress(listen_);
    platform::Bind(listen_, platform::IPv4Address(127, 0, 0, 1), 0);
    port_ = platform::LocalPort(listen_);
    platform::Listen(listen_, 4);
    start_ = std::chrono::steady_clock::now();
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedRtspServer() {
    stop_ = true;
    thread_.join();
    norvale::platform::CloseSocket(listen_);
  }
  ScriptedRtspServer(const ScriptedRtspServer&) = delete;
  ScriptedRtspServer& operator=(const ScriptedRtspServer&) = delete;

  uint16_t Port() const { return port_; }
  std::vector<RtspRequest> Requests() {
    std::lock_guard<std::mutex> lock(m_);
    return requests_;
  }
  std::vector<RtspRequest> Requests(const std::string& method) {
    std::vector<RtspRequest> out;
    for (auto& r : Requests())
      if (r.method == method) out.push_back(r);
    return out;
  }
  size_t Count(const std::string& method) { return Requests(method).size(); }
  std::string Received() {
    std::lock_guard<std::mutex> lock(m_);
    return received_;
  }
  int Connections() const { return connections_; }
  uint16_t FramesSent() const { return sequence_; }

 private:
  using Socket = norvale::platform::SocketHandle;

  static bool Readable(Socket s, uint32_t ms) {
    return norvale::platform::WaitReadable(s, ms) == norvale::platform::SocketWait::Ready;
  }

  void Serve() {
    while (!stop_) {
      if (!Readable(listen_, 20)) continue;
      const Socket connection = norvale::platform::Accept(listen_);
      if (connection == norvale::platform::kInvalidSocket) continue;
      ++connections_;
      ServeConnection(connection);
      norvale::platform::CloseSocket(connection);
    }
  }

  void ServeConnection(Socket connection) {
    std::string pending;
    bool streaming = false;
    auto nextFrame = std::chrono::steady_clock::now();
    while (!stop_) {
      if (Readable(connection, 5)) {
        char buffer[4096];
        const int n = norvale::platform::Receive(connection, buffer, sizeof buffer);
        if (n <= 0) return;
        {
          std::lock_guard<std::mutex> lock(m_);
          received_.append(buffer, static_cast<size_t>(n));
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find("\r\n\r\n")) != std::string::npos;) {
          RtspRequest request = Parse(pending.substr(0, end + 4));
          pending.erase(0, end + 4);
          {
            std::lock_guard<std::mutex> lock(m_);
            requests_.push_back(request);
          }
          const RtspReply reply = handler_(request);
          for (int i = 0; i < reply.framesBefore; ++i)
            if (!SendAll(connection, NextFrame(), 0)) return;
          if (!SendAll(connection, reply.text, reply.chunk)) return;
          if (reply.close) return;
          if (reply.startStream) streaming = true;
        }
      }
      if (streaming && std::chrono::steady_clock::now() >= nextFrame) {
        nextFrame += std::chrono::milliseconds(20);
        if (!SendAll(connection, NextFrame(), 0)) return;
      }
    }
  }

  // The next RTP packet on channel 0, with an RTCP frame on channel 1 after every fifth.
  std::string NextFrame() {
    RtpSpec spec;
    spec.sequence = ++sequence_;
    spec.payload.assign(1000, static_cast<uint8_t>(sequence_));
    const auto rtp = Interleave(0, BuildRtp(spec));
    const std::vector<uint8_t> rtcp = Interleave(1, {0x80, 0xC8, 0x00, 0x01, 0x24, 0x00, 0x00, 0x10});
    std::string bytes(rtp.begin(), rtp.end());
    if (sequence_ % 5 == 0) bytes.append(rtcp.begin(), rtcp.end());
    return bytes;
  }

  static bool SendAll(Socket connection, const std::string& text, size_t chunk) {
    size_t sent = 0;
    while (sent < text.size()) {
      const size_t piece = chunk ? std::min(chunk, text.size() - sent) : text.size() - sent;
      const int n = norvale::platform::Send(connection, text.data() + sent, piece);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
      if (chunk) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  RtspRequest Parse(const std::string& text) {
    RtspRequest r;
    r.text = text;
    const size_t space = text.find(' ');
    r.method = text.substr(0, space);
    if (space != std::string::npos) r.url = text.substr(space + 1, text.find(' ', space + 1) - space - 1);
    r.cseq = static_cast<uint32_t>(std::strtoul(r.Header("CSeq").c_str(), nullptr, 10));
    r.atMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
    return r;
  }

  Handler handler_;
  Socket listen_ = norvale::platform::kInvalidSocket;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<uint16_t> sequence_{0};
  std::chrono::steady_clock::time_point start_;
  std::mutex m_;
  std::vector<RtspRequest> requests_;
  std::string received_;
  std::thread thread_;
};

// "RTSP/1.0 200 OK" with the request's CSeq, the extra header lines and an optional body.
// A reply to request with status ("401 Unauthorized"), its CSeq, the header lines given (each ending
// in CRLF) and an SDP body.
inline std::string Reply(const RtspRequest& request, const std::string& status, const std::string& headers = "",
                         const std::string& body = "") {
  std::string text = "RTSP/1.0 " + status + "\r\nCSeq: " + std::to_string(request.cseq) + "\r\n" + headers;
  if (!body.empty()) text += "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

inline std::string Ok(const RtspRequest& request, const std::string& headers = "", const std::string& body = "") {
  return Reply(request, "200 OK", headers, body);
}

}  // namespace zephrin::test
