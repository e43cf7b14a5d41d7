// Stopping the video settings manager while its worker waits on a camera that accepted the request
// and never answers: the worker is asked to stop and freed from the request, not terminated.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "runtime/CEvent.h"
#include "support/ChildProcess.h"
#include "support/FakeDriver.h"
#include "videosettings/CElmoVideoSettingsManager.h"

namespace {

// Accepts connections on a loopback port, reads what comes and never answers. A Linux program, as
// the simulated cameras are (it also serves a test under Wine); it prints its port, then one line
// per connection.
class SilentCamera {
 public:
  SilentCamera() {
    const char* script =
        "import socket, threading\n"
        "listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)\n"
        "listener.bind(('127.0.0.1', 0))\n"
        "listener.listen(4)\n"
        "print(listener.getsockname()[1], flush=True)\n"
        "clients = []\n"
        "while True:\n"
        "    client, _ = listener.accept()\n"
        "    clients.append(client)\n"
        "    print('connection', flush=True)\n";
    std::string error;
    if (!process_.Start({"/usr/bin/python3", "-c", script}, &error)) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (output_.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
      if (!process_.Read(&output_, 100)) break;
    port_ = static_cast<uint16_t>(std::atoi(output_.c_str()));
  }
  uint16_t Port() const { return port_; }
  // Connections accepted so far.
  int Connections() {
    for (size_t before = std::string::npos; before != output_.size();) {
      before = output_.size();
      if (!process_.Read(&output_, 0)) break;
    }
    int count = 0;
    for (size_t at = output_.find("connection"); at != std::string::npos; at = output_.find("connection", at + 1))
      ++count;
    return count;
  }

 private:
  zephrin::test::ChildProcess process_;
  std::string output_;
  uint16_t port_ = 0;
};

TEST(VideoSettingsStop, AWaitingWorkerIsFreedFromTheCameraNotTerminated) {
  SilentCamera camera;
  ASSERT_NE(camera.Port(), 0);
  zephrin::test::FakeDriver driver;
  driver.deviceInfo.address = "127.0.0.1";
  driver.deviceInfo.port = camera.Port();
  driver.deviceInfo.networkTimeout = 20000;  // the request alone would outlast the stop limit
  driver.params[2] = "3";
  auto* manager = new norvale::CElmoVideoSettingsManager(&driver, 0);

  norvale::ChannelSettings settings;
  settings.frameInterval = 40;
  settings.quality = 50;
  settings.width = 640;
  settings.height = 480;
  norvale::CManualEvent callerStop;
  auto applied = std::async(std::launch::async, [&] { return manager->Apply(&callerStop, 3, settings); });
  for (int i = 0; i < 500 && camera.Connections() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(camera.Connections(), 1);

  callerStop.Set();  // the channel gives up waiting, then the driver closes
  EXPECT_FALSE(applied.get());
  delete manager;
  EXPECT_FALSE(driver.Contains("will be terminated")) << "the worker was terminated inside its request";
  EXPECT_EQ(camera.Connections(), 1) << "nothing more is sent once the stop was asked for";
}

}  // namespace
