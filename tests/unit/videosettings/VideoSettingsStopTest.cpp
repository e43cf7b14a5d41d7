// Stopping the video settings manager while its worker waits on a camera that accepted the request
// and never answers: the worker is asked to stop and freed from the request, not terminated.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "runtime/CEvent.h"
#include "support/FakeDriver.h"
#include "videosettings/CElmoVideoSettingsManager.h"

namespace {

// Accepts connections on a loopback port, reads what comes and never answers.
class SilentCamera {
 public:
  SilentCamera() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] {
      for (;;) {
        const int client = accept(fd_, nullptr, nullptr);
        if (client < 0) return;
        ++requests_;
        clients_.push_back(client);  // only this thread touches the list until it ended
      }
    });
  }
  ~SilentCamera() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    if (acceptor_.joinable()) acceptor_.join();
    for (int client : clients_) close(client);
  }
  uint16_t Port() const { return port_; }
  int Connections() const { return requests_.load(); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<int> requests_{0};
  std::vector<int> clients_;
  std::thread acceptor_;
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
