#include "support/ChildProcess.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "platform/Platform.h"
#include "platform/Socket.h"
#include "platform/SocketLibrary.h"

namespace zephrin::test {

namespace platform = norvale::platform;

namespace {
constexpr uint32_t kRelayStartMs = 20000;
constexpr uint32_t kStopMs = 10000;  // the relay gives the program 5 s before SIGKILL

std::string WindowsPath(const std::string& linuxPath) {
  std::string path = ChildProcess::LocalPath(linuxPath);
  for (auto& c : path)
    if (c == '/') c = '\\';
  return path;
}

// The relay writes "port <n>" once it listens.
uint16_t WaitForRelayPort(const std::string& file) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRelayStartMs);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(ChildProcess::LocalPath(file));
    std::string word;
    unsigned port = 0;
    if (in >> word >> port && word == "port" && port > 0 && port < 65536) return static_cast<uint16_t>(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}
}  // namespace

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error) {
  relayFiles_[0] = CreateTempFile("zephrin-child-args");
  relayFiles_[1] = CreateTempFile("zephrin-child-port");
  if (relayFiles_[0].empty() || relayFiles_[1].empty()) {
    *error = "cannot create the relay's files under /tmp";
    return false;
  }
  {
    std::ofstream args(LocalPath(relayFiles_[0]), std::ios::binary);
    for (const auto& arg : argv) args << arg << '\0';  // an argument may hold line breaks (python3 -c)
  }

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE portFile = CreateFileA(LocalPath(relayFiles_[1]).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (portFile == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + relayFiles_[1];
    return false;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = portFile;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  std::string command = WindowsPath("/usr/bin/python3") + " \"" + ZEPHRIN_SOURCE_DIR +
                        "/tests/support/child_relay.py\" \"" + relayFiles_[0] + "\"";
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  CloseHandle(portFile);
  if (!started) {
    *error = "cannot start the relay (" + command + "), error " + std::to_string(GetLastError());
    return false;
  }
  // Wine hands out no handle of a Linux process; a Windows one is closed all the same.
  if (info.hProcess) CloseHandle(info.hProcess);
  if (info.hThread) CloseHandle(info.hThread);

  const uint16_t port = WaitForRelayPort(relayFiles_[1]);
  if (port == 0) {
    *error = "the relay did not report its port in " + relayFiles_[1];
    return false;
  }
  if (!platform::StartSocketLibrary()) {
    *error = "no socket library";
    return false;
  }
  const platform::SocketHandle s = platform::CreateTcpSocket();
  bool connected = false;
  if (s != platform::kInvalidSocket && platform::SetBlocking(s, false)) {
    const auto start = platform::StartConnect(s, platform::ResolveIPv4("127.0.0.1"), port);
    connected = start == platform::ConnectStart::Connected ||
                (start == platform::ConnectStart::InProgress &&
                 platform::WaitConnected(s, kRelayStartMs) == platform::SocketWait::Ready);
  }
  if (!connected) {
    if (s != platform::kInvalidSocket) platform::CloseSocket(s);
    platform::StopSocketLibrary();
    *error = "cannot connect to the relay on port " + std::to_string(port);
    return false;
  }
  process_ = s;
  return true;
}

bool ChildProcess::Read(std::string* text, uint32_t ms) {
  if (process_ == platform::kInvalidSocket) return false;
  const auto wait = platform::WaitReadable(process_, ms);
  if (wait == platform::SocketWait::Timeout || wait == platform::SocketWait::Retry) return true;
  char buffer[512];
  const int n = wait == platform::SocketWait::Ready ? platform::Receive(process_, buffer, sizeof buffer) : -1;
  if (n > 0) {
    text->append(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && wait == platform::SocketWait::Ready) return true;  // nothing after all
  return false;
}

void ChildProcess::Stop() {
  if (process_ != platform::kInvalidSocket) {
    // Any byte asks the relay to end the program; it closes the connection once the program is gone.
    platform::Send(process_, "stop\n", 5);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopMs);
    char buffer[512];
    while (std::chrono::steady_clock::now() < deadline) {
      const auto wait = platform::WaitReadable(process_, 200);
      if (wait == platform::SocketWait::Timeout || wait == platform::SocketWait::Retry) continue;
      if (wait != platform::SocketWait::Ready || platform::Receive(process_, buffer, sizeof buffer) == 0) break;
    }
    platform::CloseSocket(process_);
    platform::StopSocketLibrary();
    process_ = platform::kInvalidSocket;
  }
  for (auto& file : relayFiles_) {
    if (!file.empty()) std::remove(LocalPath(file).c_str());
    file.clear();
  }
}

std::string ChildProcess::CreateTempFile(const std::string& stem) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = "/tmp/" + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(platform::Random32()) + "-" + std::to_string(++counter);
    HANDLE file =
        CreateFileA(LocalPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return path;
    }
  }
  return {};
}

// Wine's drive Z: is the Linux root.
std::string ChildProcess::LocalPath(const std::string& linuxPath) { return "Z:" + linuxPath; }

}  // namespace zephrin::test
