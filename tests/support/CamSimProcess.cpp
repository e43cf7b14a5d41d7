#include "support/CamSimProcess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/Platform.h"
#include "platform/Socket.h"
#include "platform/SocketLibrary.h"

namespace zephrin::test {

namespace platform = norvale::platform;

namespace {
constexpr int kStartTimeoutMs = 20000;
constexpr uint32_t kControlTimeoutMs = 5000;

// A blocking connection to address:port, or kInvalidSocket.
platform::SocketHandle Connect(const std::string& address, uint16_t port) {
  const platform::SocketHandle s = platform::CreateTcpSocket();
  if (s == platform::kInvalidSocket) return s;
  bool connected = false;
  if (platform::SetBlocking(s, false)) {
    const auto start = platform::StartConnect(s, platform::ResolveIPv4(address.c_str()), port);
    connected = start == platform::ConnectStart::Connected ||
                (start == platform::ConnectStart::InProgress &&
                 platform::WaitConnected(s, kControlTimeoutMs) == platform::SocketWait::Ready);
  }
  if (!connected || !platform::SetBlocking(s, true) || !platform::SetReceiveTimeout(s, kControlTimeoutMs)) {
    platform::CloseSocket(s);
    return platform::kInvalidSocket;
  }
  return s;
}
}  // namespace

CamSimProcess::CamSimProcess(const Options& options) : address_(options.address) {
  logPath_ = ChildProcess::CreateTempFile("camsim-requests");
  std::vector<std::string> args = {"/usr/bin/python3", std::string(ZEPHRIN_SOURCE_DIR) + "/tools/camsim/camsim.py",
                                   "--address",        options.address,
                                   "--http-port",      std::to_string(options.httpPort),
                                   "--profile",        options.profile,
                                   "--user",           options.user,
                                   "--password",       options.password,
                                   "--auth",           options.auth};
  if (options.rtsp) {
    args.insert(args.end(), {"--rtsp-port", std::to_string(options.rtspPort)});
  } else {
    args.push_back("--no-rtsp");
  }
  if (!logPath_.empty()) args.insert(args.end(), {"--request-log", logPath_});
  for (const auto& fault : options.faults) args.insert(args.end(), {"--fault", fault});
  args.insert(args.end(), options.extra.begin(), options.extra.end());

  if (!process_.Start(args, &error_)) return;

  // Wait for "ready http=<address>:<port> ...".
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (!ready_ && std::chrono::steady_clock::now() < deadline) {
    if (!process_.Read(&text, 200)) break;
    const size_t ready = text.find("ready http=");
    if (ready != std::string::npos && text.find('\n', ready) != std::string::npos) {
      const size_t colon = text.find(':', ready);
      if (colon != std::string::npos) httpPort_ = static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1));
      ready_ = httpPort_ != 0;
    }
  }
  if (!ready_) {
    error_ = "zephrin-camsim did not become ready on " + options.address + " (output: " + text + ")";
    Stop();
  }
}

CamSimProcess::~CamSimProcess() {
  Stop();
  if (!logPath_.empty()) std::remove(ChildProcess::LocalPath(logPath_).c_str());
}

void CamSimProcess::Stop() { process_.Stop(); }

bool CamSimProcess::Control(const std::string& target, std::string* body) {
  if (!platform::StartSocketLibrary()) return false;
  const platform::SocketHandle s = Connect(address_, httpPort_);
  std::string answer;
  bool sent = false;
  if (s != platform::kInvalidSocket) {
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + address_ + "\r\nConnection: close\r\n\r\n";
    sent = platform::Send(s, request.data(), request.size()) == static_cast<int>(request.size());
    char buffer[4096];
    for (int n; sent && (n = platform::Receive(s, buffer, sizeof buffer)) > 0;)
      answer.append(buffer, static_cast<size_t>(n));
    platform::CloseSocket(s);
  }
  platform::StopSocketLibrary();
  if (!sent) return false;
  const size_t headerEnd = answer.find("\r\n\r\n");
  if (body) *body = headerEnd == std::string::npos ? std::string() : answer.substr(headerEnd + 4);
  return answer.rfind("HTTP/1.", 0) == 0 && answer.size() > 12 && answer.compare(9, 3, "200") == 0;
}

std::vector<std::string> CamSimProcess::RequestLog() {
  std::vector<std::string> lines;
  std::ifstream in(ChildProcess::LocalPath(logPath_));
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

size_t CamSimProcess::CountRequests(const std::string& targetPrefix) {
  size_t count = 0;
  for (const auto& line : RequestLog())
    if (line.rfind("GET " + targetPrefix, 0) == 0) ++count;
  return count;
}

}  // namespace zephrin::test
