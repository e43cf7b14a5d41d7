#pragma once
// A zephrin-camsim process playing one camera for the PTZ tests: CGI only, on its own loopback
// address and a free port, with a request log; and the driver opened for it through its exports.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/ChildProcess.h"
#include "support/HostLibrary.h"
#include "support/HostObjects.h"

namespace zephrin::ptztest {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SimulatedCamera {
 public:
  // extra: further camsim options, e.g. {"--profile", "evision"} or {"--fault", "..."}.
  SimulatedCamera(const std::string& address, std::vector<std::string> extra = {})
      : address_(address), log_(test::ChildProcess::CreateTempFile("zephrin-ptz-requests")) {
    std::vector<std::string> args = {"/usr/bin/python3",
                                     std::string(ZEPHRIN_SOURCE_DIR) + "/tools/camsim/camsim.py",
                                     "--address",
                                     address,
                                     "--http-port",
                                     "0",
                                     "--no-rtsp",
                                     "--request-log",
                                     log_};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    if (log_.empty() || !process_.Start(args, &error)) return;
    // "ready http=ADDRESS:PORT rtsp=off profile=NAME"; the output stays open while the camera runs.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
      if (!process_.Read(&text, 100)) break;
    const size_t colon = text.find(':', text.find("http="));
    if (text.rfind("ready ", 0) == 0 && colon != std::string::npos)
      port_ = static_cast<uint16_t>(std::stoi(text.substr(colon + 1)));
  }
  ~SimulatedCamera() {
    process_.Stop();
    if (!log_.empty()) std::remove(test::ChildProcess::LocalPath(log_).c_str());
  }
  SimulatedCamera(const SimulatedCamera&) = delete;
  SimulatedCamera& operator=(const SimulatedCamera&) = delete;

  bool Ready() const { return port_ != 0; }
  uint16_t Port() const { return port_; }
  const std::string& Address() const { return address_; }
  std::string DeviceName() const { return address_ + ":" + std::to_string(port_); }

  // The CGI requests in order ("path?query" of every GET but those that got the 401 of an
  // authentication challenge); a request left unanswered (a hang) is logged when it arrives.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    std::ifstream in(test::ChildProcess::LocalPath(log_));
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("GET ", 0) != 0) continue;
      const size_t space = line.rfind(' ');
      if (line.substr(space + 1) == "401") continue;
      out.push_back(line.substr(4, space - 4));
    }
    return out;
  }
  // Waits until at least count requests are logged; returns them.
  std::vector<std::string> WaitRequests(size_t count, int ms = 8000) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::vector<std::string> requests = Requests();
    while (requests.size() < count && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      requests = Requests();
    }
    return requests;
  }
  // Requests logged after `since` more requests, waiting for count of them.
  std::vector<std::string> WaitNew(size_t since, size_t count, int ms = 8000) const {
    std::vector<std::string> all = WaitRequests(since + count, ms);
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(since, all.size())), all.end());
  }

 private:
  std::string address_;
  std::string log_;  // the simulator's (Linux) path
  test::ChildProcess process_;
  uint16_t port_ = 0;
};

// The driver loaded as the host loads it and opened for a simulated camera.
class HostedDriver {
 public:
  using Create = norvale::ipcapture::IIPCaptureDriverEx5* (*)();
  using Delete = void (*)(norvale::ipcapture::IDeletable*);

  HostedDriver(const SimulatedCamera& camera, const std::vector<std::pair<uint32_t, std::string>>& params,
               int32_t cameras = 1)
      : library_("Zephrin") {
    if (!library_.IsLoaded()) return;
    device_.connection.address = camera.Address();
    device_.connection.port = camera.Port();
    device_.camera.cameraCount = cameras;
    device_.SetParam(1, "0");
    for (const auto& [number, text] : params) device_.SetParam(number, text);
    auto create = library_.Function<Create>("CreateIPCapture");
    destroy_ = library_.Function<Delete>("DeleteIPCapture");
    if (!create || !destroy_) return;
    driver_ = create();
    if (driver_ && !driver_->Open(&log, &allocator_, &device_)) {
      destroy_(driver_);
      driver_ = nullptr;
    }
  }
  ~HostedDriver() { Stop(); }
  HostedDriver(const HostedDriver&) = delete;
  HostedDriver& operator=(const HostedDriver&) = delete;

  bool Opened() const { return driver_ != nullptr; }
  norvale::ipcapture::IIPPTZDriver* Ptz() { return driver_ ? driver_->GetPTZDriver() : nullptr; }
  norvale::ipcapture::IIPPTZApi* Api(uint32_t channel = 0) {
    auto* ptz = Ptz();
    return ptz ? ptz->GetPTZApi(channel) : nullptr;
  }
  void Stop() {
    if (!driver_) return;
    driver_->Close();
    destroy_(driver_);
    driver_ = nullptr;
  }

  test::RecordingLogSink log;

 private:
  test::HostLibrary library_;
  test::TestFrameAllocator allocator_;
  test::TestDeviceSource device_;
  Delete destroy_ = nullptr;
  norvale::ipcapture::IIPCaptureDriverEx5* driver_ = nullptr;
};

}  // namespace zephrin::ptztest
