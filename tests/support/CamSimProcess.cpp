#include "support/CamSimProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace zephrin::test {

namespace {
constexpr int kStartTimeoutMs = 20000;

std::string TempLogPath() {
  char path[] = "/tmp/camsim-requests-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  return path;
}
}  // namespace

CamSimProcess::CamSimProcess(const Options& options) : address_(options.address) {
  logPath_ = TempLogPath();
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

  int out[2];
  if (pipe(out) != 0) {
    error_ = "pipe failed";
    return;
  }
  pid_ = fork();
  if (pid_ < 0) {
    error_ = "fork failed";
    close(out[0]);
    close(out[1]);
    return;
  }
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);

  // Wait for "ready http=<address>:<port> ...".
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (!ready_ && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    const size_t ready = text.find("ready http=");
    if (ready != std::string::npos && text.find('\n', ready) != std::string::npos) {
      const size_t colon = text.find(':', ready);
      if (colon != std::string::npos) httpPort_ = static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1));
      ready_ = httpPort_ != 0;
    }
  }
  close(out[0]);
  if (!ready_) {
    error_ = "zephrin-camsim did not become ready on " + options.address + " (output: " + text + ")";
    Stop();
  }
}

CamSimProcess::~CamSimProcess() {
  Stop();
  if (!logPath_.empty()) unlink(logPath_.c_str());
}

void CamSimProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool CamSimProcess::Control(const std::string& target, std::string* body) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(httpPort_);
  inet_pton(AF_INET, address_.c_str(), &peer.sin_addr);
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    close(fd);
    return false;
  }
  const std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + address_ + "\r\nConnection: close\r\n\r\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    close(fd);
    return false;
  }
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
  close(fd);
  const size_t headerEnd = answer.find("\r\n\r\n");
  if (body) *body = headerEnd == std::string::npos ? std::string() : answer.substr(headerEnd + 4);
  return answer.rfind("HTTP/1.", 0) == 0 && answer.size() > 12 && answer.compare(9, 3, "200") == 0;
}

std::vector<std::string> CamSimProcess::RequestLog() {
  std::vector<std::string> lines;
  std::ifstream in(logPath_);
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
