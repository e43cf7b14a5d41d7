#pragma once
// A Linux program a test starts (the camera simulator), with its standard output readable, stopped
// on request or when the object goes. On Linux it is a child process. A Windows test program runs
// under Wine, which starts a Linux program but gives it no pipe and no handle to stop it by: there a
// relay (child_relay.py) starts the program, hands its output over a loopback connection and ends
// it when the connection closes, so that the program also ends when the test process dies.
#include <cstdint>
#include <string>
#include <vector>

namespace zephrin::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv (argv[0]: the program's absolute Linux path). False with *error set.
  bool Start(const std::vector<std::string>& argv, std::string* error);
  // Appends what the program wrote to its standard output within ms; false once that output ended
  // (or the program was never started), true otherwise, also when nothing came.
  bool Read(std::string* text, uint32_t ms);
  // Ends the program (SIGTERM, SIGKILL after 5 s) and waits for its end. Nothing when not running.
  void Stop();

  // A new empty file for the program to write (its absolute Linux path), empty on failure.
  static std::string CreateTempFile(const std::string& stem);
  // The name under which this test program opens a file of the program's Linux path.
  static std::string LocalPath(const std::string& linuxPath);

 private:
  intptr_t process_ = -1;  // Linux: the child's pid; Windows: the connection to the relay
  int output_ = -1;        // Linux: the read end of the child's standard output
  std::string relayFiles_[2];
};

}  // namespace zephrin::test
