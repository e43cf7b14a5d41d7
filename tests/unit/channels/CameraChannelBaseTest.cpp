// The camera channel base: state and online/offline lines, the stream request across Start and
// Restart, and the bounded stop of the capture thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "channels/CBaseCameraChannel.h"
#include "support/FakeDriver.h"
#include "support/WaitUntil.h"

namespace {

using norvale::ChannelSettings;
using zephrin::test::FakeDriver;

// A channel whose capture thread does what the test tells it.
class ScriptedChannel : public norvale::CBaseCameraChannel {
 public:
  enum class Body { WaitForStop, IgnoreStop, StopItself };

  ScriptedChannel(uint32_t camera, norvale::IDriver* driver, Body body = Body::WaitForStop)
      : CBaseCameraChannel(camera, driver), body_(body) {}
  ~ScriptedChannel() override { Stop(); }

  void SetHostValue(int32_t) override {}
  void Enter(int32_t state) { SetState(state); }

  std::atomic<int> runs{0};
  std::atomic<int> aborts{0};
  std::atomic<bool> bodyStarted{false};
  std::atomic<bool> selfStopped{false};
  ChannelSettings seen;  // the request as the capture thread saw it

 protected:
  void CaptureThreadBody() override {
    seen = Settings();
    ++runs;
    bodyStarted = true;
    switch (body_) {
      case Body::WaitForStop:
        StopEvent().Wait(norvale::platform::kInfinite);
        break;
      case Body::IgnoreStop:
        for (;;) norvale::platform::SleepMs(10);  // a cancellation point every round
      case Body::StopItself:
        Stop();
        selfStopped = true;
        break;
    }
  }
  void AbortCapture() override { ++aborts; }

 private:
  Body body_;
};

ChannelSettings Request(int32_t interval, int32_t quality, uint16_t w, uint16_t h, int32_t kind) {
  ChannelSettings s;
  s.frameInterval = interval;
  s.quality = quality;
  s.width = w;
  s.height = h;
  s.streamKind = kind;
  return s;
}

using zephrin::test::WaitUntil;

class CameraChannelBase : public ::testing::Test {
 protected:
  CameraChannelBase() { driver_.deviceInfo.address = "10.1.2.3"; }
  FakeDriver driver_;
};

TEST_F(CameraChannelBase, OnlineAndOfflineLinesFollowTheState) {
  ScriptedChannel channel(0, &driver_);
  EXPECT_EQ(channel.GetState(), norvale::ChannelStopped);

  channel.SetCameraState(true);
  channel.SetCameraState(true);  // reported twice: one line
  ASSERT_EQ(driver_.Count("is online"), 1u);
  EXPECT_EQ(driver_.Lines()[0].level, norvale::LogInfo);
  EXPECT_EQ(driver_.Lines()[0].text, "norvale::CBaseCameraChannel::SetCameraState: Camera 10.1.2.3 is online");

  channel.Enter(norvale::ChannelSignalLost);
  channel.SetCameraState(false);
  channel.SetCameraState(false);
  ASSERT_EQ(driver_.Lines().size(), 2u);
  EXPECT_EQ(driver_.Lines()[1].level, norvale::LogError);
  EXPECT_EQ(driver_.Lines()[1].text,
            "norvale::CBaseCameraChannel::SetCameraState: Signal was lost for camera 10.1.2.3");

  channel.SetCameraState(true);
  channel.Enter(norvale::ChannelStreaming);
  channel.SetCameraState(false);
  EXPECT_EQ(driver_.Lines().back().text,
            "norvale::CBaseCameraChannel::SetCameraState: Camera 10.1.2.3 is offline or failed");
  EXPECT_EQ(driver_.Lines().back().level, norvale::LogError);

  channel.SetCameraState(true);
  channel.Stop();
  EXPECT_EQ(driver_.Lines().back().text,
            "norvale::CBaseCameraChannel::SetCameraState: Camera 10.1.2.3 is offline. Channel was stopped");
  EXPECT_EQ(driver_.Lines().back().level, norvale::LogInfo);
  EXPECT_EQ(channel.GetState(), norvale::ChannelStopped);
}

TEST_F(CameraChannelBase, CamerasOfAVideoServerAreNamedByChannel) {
  driver_.cameraCount = 4;
  ScriptedChannel channel(2, &driver_);
  channel.SetCameraState(true);
  channel.Enter(norvale::ChannelSignalLost);
  channel.SetCameraState(false);
  const auto lines = driver_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].text.find(": Video-server 10.1.2.3 (channel 2) is online"), std::string::npos);
  EXPECT_NE(lines[1].text.find(": Signal was lost for video-server 10.1.2.3 (channel 2)"), std::string::npos);
}

TEST_F(CameraChannelBase, StoppingAChannelThatNeverCameOnlineWritesNothing) {
  ScriptedChannel channel(0, &driver_);
  const ChannelSettings request = Request(40, 50, 640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));
  ASSERT_TRUE(WaitUntil([&] { return channel.bodyStarted.load(); }));
  channel.Stop();
  channel.Stop();
  EXPECT_TRUE(driver_.Lines().empty());
  EXPECT_EQ(channel.aborts.load(), 1);  // the abort hook runs once per running thread
}

TEST_F(CameraChannelBase, StartHandsTheRequestToTheCaptureThreadAndRestartKeepsTheQuality) {
  ScriptedChannel channel(0, &driver_);
  const ChannelSettings first = Request(40, 77, 1280, 720, 1);
  ASSERT_TRUE(channel.Start(&first));
  ASSERT_TRUE(WaitUntil([&] { return channel.runs.load() == 1; }));
  EXPECT_EQ(channel.seen.quality, 77);
  EXPECT_EQ(channel.seen.streamKind, 1);

  const ChannelSettings second = Request(100, 5, 640, 480, 0);
  ASSERT_TRUE(channel.Restart(&second));
  ASSERT_TRUE(WaitUntil([&] { return channel.runs.load() == 2; }));
  const ChannelSettings now = channel.Settings();
  EXPECT_EQ(now.frameInterval, 100);
  EXPECT_EQ(now.quality, 77);  // kept from the running request
  EXPECT_EQ(now.width, 640);
  EXPECT_EQ(now.height, 480);
  EXPECT_EQ(now.streamKind, 0);
  EXPECT_EQ(channel.seen.quality, 77);

  // A new Start takes the whole new request.
  ASSERT_TRUE(channel.Start(&second));
  ASSERT_TRUE(WaitUntil([&] { return channel.runs.load() == 3; }));
  EXPECT_EQ(channel.Settings().quality, 5);
}

TEST_F(CameraChannelBase, ACaptureThreadThatIgnoresItsStopIsTerminatedAndLogged) {
  driver_.deviceInfo.networkTimeout = 50;  // the stop waits twice that
  ScriptedChannel channel(0, &driver_, ScriptedChannel::Body::IgnoreStop);
  const ChannelSettings request = Request(40, 50, 640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));
  ASSERT_TRUE(WaitUntil([&] { return channel.bodyStarted.load(); }));
  channel.Stop();
  ASSERT_EQ(driver_.Count("cannot be stopped"), 1u);
  const auto line = driver_.Lines().back();
  EXPECT_EQ(line.level, norvale::LogWarning);
  EXPECT_EQ(line.text,
            "norvale::CBaseCameraChannel::StopThread: Video capture thread for camera 10.1.2.3 cannot be stopped and "
            "will be terminated now");
  // The channel can run again after a terminated thread.
  channel.bodyStarted = false;
  ASSERT_TRUE(channel.Start(&request));
  EXPECT_TRUE(WaitUntil([&] { return channel.bodyStarted.load(); }));
}

TEST_F(CameraChannelBase, ACaptureThreadMayStopItsOwnChannel) {
  ScriptedChannel channel(0, &driver_, ScriptedChannel::Body::StopItself);
  const ChannelSettings request = Request(40, 50, 640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));
  ASSERT_TRUE(WaitUntil([&] { return channel.selfStopped.load(); }));
  // The host's stop later collects the finished thread, and the channel starts again.
  channel.Stop();
  channel.selfStopped = false;
  ASSERT_TRUE(channel.Start(&request));
  EXPECT_TRUE(WaitUntil([&] { return channel.selfStopped.load(); }));
  EXPECT_EQ(channel.runs.load(), 2);
  channel.Stop();
  EXPECT_EQ(driver_.Count("cannot be stopped"), 0u);
}

}  // namespace
