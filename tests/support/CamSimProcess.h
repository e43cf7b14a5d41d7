#pragma once
// One zephrin-camsim process for a test: started on its own loopback address, ready when the
// constructor returns (or with an error), stopped when the object goes. The control endpoints and
// the request log are reachable from the test. The simulator is a Linux program, also for the
// Windows test programs under Wine (ChildProcess).
#include <cstdint>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace zephrin::test {

class CamSimProcess {
 public:
  struct Options {
    std::string address = "127.0.0.2";
    uint16_t httpPort = 0;  // 0: any free port
    bool rtsp = false;
    uint16_t rtspPort = 554;
    std::string profile = "ptz-dome";
    std::string user = "admin";
    std::string password = "admin";
    std::string auth = "digest";      // digest, basic or none
    std::vector<std::string> faults;  // --fault rules
    std::vector<std::string> extra;   // further arguments
  };

  explicit CamSimProcess(const Options& options);
  ~CamSimProcess();
  CamSimProcess(const CamSimProcess&) = delete;
  CamSimProcess& operator=(const CamSimProcess&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Error() const { return error_; }
  const std::string& Address() const { return address_; }
  uint16_t HttpPort() const { return httpPort_; }

  // GET on a control endpoint ("/camsim/input?port=1&state=1"); the body, or false without a 200.
  bool Control(const std::string& target, std::string* body = nullptr);
  // The request log so far: "GET <target> <status>" per request.
  std::vector<std::string> RequestLog();
  // Requests whose target begins with the prefix (any status).
  size_t CountRequests(const std::string& targetPrefix);
  // Stops the process now (SIGTERM, then SIGKILL after 5 s).
  void Stop();

 private:
  ChildProcess process_;
  bool ready_ = false;
  std::string error_;
  std::string address_;
  uint16_t httpPort_ = 0;
  std::string logPath_;  // the simulator's (Linux) path
};

}  // namespace zephrin::test
