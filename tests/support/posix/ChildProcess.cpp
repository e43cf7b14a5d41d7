#include "support/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace zephrin::test {

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error) {
  int out[2];
  if (pipe(out) != 0) {
    *error = "pipe failed";
    return false;
  }
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (auto& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    *error = "fork failed";
    close(out[0]);
    close(out[1]);
    return false;
  }
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  close(out[1]);
  process_ = pid;
  output_ = out[0];
  return true;
}

bool ChildProcess::Read(std::string* text, uint32_t ms) {
  if (output_ < 0) return false;
  pollfd p{output_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(ms)) <= 0) return true;
  char buffer[512];
  const ssize_t n = read(output_, buffer, sizeof buffer);
  if (n <= 0) {
    close(output_);
    output_ = -1;
    return false;
  }
  text->append(buffer, static_cast<size_t>(n));
  return true;
}

void ChildProcess::Stop() {
  if (output_ >= 0) {
    close(output_);
    output_ = -1;
  }
  if (process_ <= 0) return;
  const auto pid = static_cast<pid_t>(process_);
  process_ = -1;
  kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::string ChildProcess::CreateTempFile(const std::string& stem) {
  std::string path = "/tmp/" + stem + "-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) return {};
  close(fd);
  return path;
}

std::string ChildProcess::LocalPath(const std::string& linuxPath) { return linuxPath; }

}  // namespace zephrin::test
