// The video capture object: the camera/stream table, what reaches the channels from the host's
// stream settings, ownership of channels and the status the host reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "channels/CBaseRTPChannel.h"
#include "driver/CChannelReaper.h"
#include "driver/CIPVideoCapture.h"
#include "platform/Platform.h"
#include "runtime/CBaseThread.h"
#include "support/FakeDriver.h"
#include "support/HostObjects.h"
#include "support/StreamSettings.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace {

using norvale::ChannelSettings;
using norvale::CIPVideoCapture;
using norvale::ICameraChannel;
using zephrin::test::RecordingFrameSink;
using zephrin::test::TestStreamSettings;

struct ChannelLog {
  std::vector<ChannelSettings> starts;
  std::vector<int32_t> hostValues;
  int stops = 0;
  std::atomic<bool> deleted{false};
};

class FakeChannel : public ICameraChannel {
 public:
  // hook(true) runs at the start, hook(false) at the stop.
  FakeChannel(ChannelLog* log, bool startResult, std::function<void(bool)> hook)
      : log_(log), startResult_(startResult), hook_(std::move(hook)) {}
  ~FakeChannel() override { log_->deleted = true; }
  void SetHostValue(int32_t value) override { log_->hostValues.push_back(value); }
  bool Start(const ChannelSettings* settings) override {
    if (hook_) hook_(true);
    log_->starts.push_back(*settings);
    return startResult_;
  }
  void Stop() override {
    ++log_->stops;
    if (hook_) hook_(false);
  }
  void Silence() override {}
  bool Restart(const ChannelSettings*) override { return true; }
  bool Query5() override { return true; }
  bool Query6() override { return false; }
  int32_t GetState() override { return state; }

  int32_t state = norvale::ChannelStopped;

 private:
  ChannelLog* log_;
  bool startResult_;
  std::function<void(bool)> hook_;
};

class FakeCreator : public norvale::IVideoChannelCreator {
 public:
  ICameraChannel* CreateChannel(uint32_t camera, norvale::ipcapture::FrameSink* sink, int32_t codec) override {
    if (!sink || refuse) return nullptr;
    logs.push_back(std::make_unique<ChannelLog>());
    const size_t n = logs.size() - 1;
    auto* channel = new FakeChannel(logs.back().get(), startResult, [this, n](bool start) {
      if (hook) hook(n, start);
    });
    channels.push_back(channel);
    requests.push_back({camera, codec});
    return channel;
  }
  ICameraChannel* CreateCompanionChannel(uint32_t, norvale::ipcapture::FrameSink*) override {
    ++companionRequests;
    return nullptr;
  }

  bool refuse = false;
  bool startResult = true;
  std::function<void(size_t, bool)> hook;  // channel n (in creation order) starts or stops
  int companionRequests = 0;
  std::vector<std::unique_ptr<ChannelLog>> logs;
  std::vector<FakeChannel*> channels;  // not owned
  std::vector<std::pair<uint32_t, int32_t>> requests;
};

class VideoCapture : public ::testing::Test {
 protected:
  VideoCapture() {
    settings_.format.codec = norvale::ipcapture::CodecJPEG;
    settings_.format.resolution = {704, 576};
    settings_.rate.frameInterval = 200;
    settings_.rate.quality = 33;
    settings_.hostValue = 1234;
  }
  FakeCreator creator_;
  RecordingFrameSink sink_;
  TestStreamSettings settings_;
};

TEST_F(VideoCapture, StartCaptureCreatesStream0FromTheHostsSettings) {
  CIPVideoCapture capture(2, &creator_);
  EXPECT_EQ(capture.GetCameraCount(), 2u);
  settings_.rate.companion = true;
  ASSERT_TRUE(capture.StartCapture(1, &sink_, &settings_));
  ASSERT_EQ(creator_.requests.size(), 1u);
  EXPECT_EQ(creator_.requests[0], (std::pair<uint32_t, int32_t>{1u, norvale::ipcapture::CodecJPEG}));
  const ChannelLog& log = *creator_.logs[0];
  ASSERT_EQ(log.starts.size(), 1u);
  EXPECT_EQ(log.starts[0].frameInterval, 200);
  EXPECT_EQ(log.starts[0].quality, 33);
  EXPECT_EQ(log.starts[0].width, 704);
  EXPECT_EQ(log.starts[0].height, 576);
  EXPECT_EQ(log.starts[0].streamKind, 0);
  EXPECT_EQ(log.hostValues, std::vector<int32_t>{1234});
  EXPECT_EQ(creator_.companionRequests, 1);  // asked for, and this driver has none

  // Starting again replaces the running channel.
  ASSERT_TRUE(capture.StartCapture(1, &sink_, &settings_));
  EXPECT_EQ(creator_.logs[0]->stops, 1);
  EXPECT_TRUE(creator_.logs[0]->deleted);
  EXPECT_FALSE(creator_.logs[1]->deleted);
}

TEST_F(VideoCapture, RequestsOutsideTheTableAreRefused) {
  CIPVideoCapture capture(2, &creator_);
  EXPECT_FALSE(capture.StartCapture(2, &sink_, &settings_));
  EXPECT_FALSE(capture.StartStream(2, 0, &sink_, &settings_));
  EXPECT_FALSE(capture.StartStream(0, 4, &sink_, &settings_));
  EXPECT_TRUE(creator_.requests.empty());
  EXPECT_FALSE(capture.StopCapture(2));
  EXPECT_FALSE(capture.StopStream(0, 4));
  int32_t state = -1;
  EXPECT_FALSE(capture.GetCaptureStatus(7, &state, nullptr, nullptr, false));
  EXPECT_FALSE(capture.StartCapture(0, &sink_, nullptr));
  EXPECT_FALSE(capture.StartCapture(0, nullptr, &settings_));  // no sink, no channel
}

TEST_F(VideoCapture, StreamsOfOneCameraRunSideBySide) {
  CIPVideoCapture capture(1, &creator_);
  ASSERT_TRUE(capture.StartCapture(0, &sink_, &settings_));
  settings_.format.codec = norvale::ipcapture::CodecH264;
  ASSERT_TRUE(capture.StartStream(0, 1, &sink_, &settings_));
  ASSERT_EQ(creator_.logs.size(), 2u);
  EXPECT_EQ(creator_.logs[1]->starts[0].streamKind, 1);
  EXPECT_TRUE(creator_.logs[1]->hostValues.empty());  // only StartCapture hands the value on
  EXPECT_EQ(creator_.logs[0]->stops, 0);
  EXPECT_EQ(creator_.companionRequests, 0);

  // Stopping stream 1 leaves stream 0 alone; stopping the camera takes everything.
  EXPECT_TRUE(capture.StopStream(0, 1));
  EXPECT_TRUE(creator_.logs[1]->deleted);
  EXPECT_FALSE(creator_.logs[0]->deleted);
  EXPECT_FALSE(capture.StopStream(0, 1));
  ASSERT_TRUE(capture.StartStream(0, 2, &sink_, &settings_));
  EXPECT_TRUE(capture.StopCapture(0));
  EXPECT_TRUE(creator_.logs[0]->deleted);
  EXPECT_TRUE(creator_.logs[2]->deleted);
  EXPECT_FALSE(capture.StopCapture(0));
}

TEST_F(VideoCapture, AChannelWhoseStartFailedIsFreedByTheNextStop) {
  CIPVideoCapture capture(1, &creator_);
  creator_.startResult = false;
  EXPECT_FALSE(capture.StartCapture(0, &sink_, &settings_));
  ASSERT_EQ(creator_.logs.size(), 1u);
  EXPECT_FALSE(creator_.logs[0]->deleted);
  EXPECT_TRUE(capture.StopCapture(0));
  EXPECT_EQ(creator_.logs[0]->stops, 1);
  EXPECT_TRUE(creator_.logs[0]->deleted);
}

TEST_F(VideoCapture, StatusReportsStoppedAsSignalLost) {
  CIPVideoCapture capture(1, &creator_);
  int32_t state = -1;
  int32_t value = 99;
  uint8_t flagByte = 99;
  EXPECT_FALSE(capture.GetCaptureStatus(0, &state, &value, &flagByte, true));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(flagByte, 0);
  EXPECT_FALSE(capture.ChannelQuery5(0));

  ASSERT_TRUE(capture.StartCapture(0, &sink_, &settings_));
  FakeChannel* channel = creator_.channels[0];
  for (auto [channelState, reported] : std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {2, 2}, {3, 2}}) {
    channel->state = channelState;
    flagByte = 99;
    EXPECT_TRUE(capture.GetCaptureStatus(0, &state, &value, &flagByte, false));
    EXPECT_EQ(state, reported);
    EXPECT_EQ(flagByte, 99);  // untouched without the flag
  }
  EXPECT_TRUE(capture.ChannelQuery5(0));
  EXPECT_FALSE(capture.ChannelQuery6(0));
}

TEST_F(VideoCapture, ChangeResolutionStartsStream0AfreshKeepingWhatTheHostGaveAtItsStart) {
  CIPVideoCapture capture(1, &creator_);
  zephrin::test::TestStreamResolution resolution(320, 240);
  EXPECT_FALSE(capture.ChangeResolution(0, &resolution, 66));
  settings_.rate.quality = 90;
  ASSERT_TRUE(capture.StartCapture(0, &sink_, &settings_));
  EXPECT_TRUE(capture.ChangeResolution(0, &resolution, 66));
  ASSERT_EQ(creator_.logs.size(), 2u);
  EXPECT_EQ(creator_.logs[0]->stops, 1);
  EXPECT_TRUE(creator_.logs[0]->deleted);
  EXPECT_EQ(creator_.requests[1], creator_.requests[0]);
  const ChannelLog& log = *creator_.logs[1];
  ASSERT_EQ(log.starts.size(), 1u);
  EXPECT_EQ(log.starts[0].frameInterval, 66);
  EXPECT_EQ(log.starts[0].width, 320);
  EXPECT_EQ(log.starts[0].height, 240);
  EXPECT_EQ(log.starts[0].quality, 90);
  EXPECT_EQ(log.hostValues, std::vector<int32_t>{1234});
  // Without a new channel the running stream is left as it was.
  creator_.refuse = true;
  EXPECT_FALSE(capture.ChangeResolution(0, &resolution, 40));
  EXPECT_EQ(log.stops, 0);
}

TEST_F(VideoCapture, DestructionStopsAndFreesEveryChannel) {
  {
    CIPVideoCapture capture(3, &creator_);
    ASSERT_TRUE(capture.StartCapture(0, &sink_, &settings_));
    ASSERT_TRUE(capture.StartStream(2, 3, &sink_, &settings_));
  }
  ASSERT_EQ(creator_.logs.size(), 2u);
  for (const auto& log : creator_.logs) {
    EXPECT_EQ(log->stops, 1);
    EXPECT_TRUE(log->deleted);
  }
}

// A real RTP channel (RTP over TCP, so no port is opened) whose frames and signal loss the test hands
// over itself.
class HandOffChannel : public norvale::CBaseRTPChannel {
 public:
  HandOffChannel(norvale::IDriver* driver, norvale::ipcapture::FrameSink* sink) : CBaseRTPChannel(0, driver, sink) {}
  ~HandOffChannel() override { Shutdown(); }
  bool HandOver() {
    zephrin::test::TestFrameBuffer frame(0x34363248, 4096, "test");
    frame.SetLength(100);
    return OnFrameCompleted(&frame);
  }
  void LoseSignal() { TellSignalLost(); }

 protected:
  bool Prepare() override { return false; }
  void HandleRTPPacket(const norvale::CRTPPacket&) override {}
};

class HandOffCreator : public norvale::IVideoChannelCreator {
 public:
  explicit HandOffCreator(norvale::IDriver* driver) : driver_(driver) {}
  ICameraChannel* CreateChannel(uint32_t, norvale::ipcapture::FrameSink* sink, int32_t) override {
    last = new HandOffChannel(driver_, sink);
    return last;
  }
  ICameraChannel* CreateCompanionChannel(uint32_t, norvale::ipcapture::FrameSink*) override { return nullptr; }
  HandOffChannel* last = nullptr;

 private:
  norvale::IDriver* driver_;
};

// A host that reacts to a frame and to a lost signal alike.
class ReactingSink : public norvale::ipcapture::FrameSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ReactingSink);
  bool OnFrame(norvale::ipcapture::FrameBuffer*) override {
    if (react) react();
    return true;
  }
  void Reserved2() override {}
  void OnSignalLost() override { OnFrame(nullptr); }
  std::function<void()> react;
};

TEST_F(VideoCapture, HostStoppingAStreamFromInsideItsFrameSinkIsRefusedAndTheChannelLivesOn) {
  namespace fs = std::filesystem;
  const zephrin::test::TempDir temp("zephrin-handoff");
  const fs::path& dir = temp.Path();
  std::ofstream(dir / "Zephrin.xml") << "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>"
                                        "</Configuration>";
  zephrin::test::FakeDriver driver;
  driver.hostDirectory = dir.string() + "/";
  driver.deviceInfo.address = "127.0.0.1";
  HandOffCreator creator(&driver);
  ReactingSink sink;
  {
    CIPVideoCapture capture(1, &creator);
    std::vector<bool> answers;
    sink.react = [&] {
      answers.push_back(capture.StopStream(0, 0));
      answers.push_back(capture.StopCapture(0));
      zephrin::test::TestStreamResolution resolution(320, 240);
      answers.push_back(capture.ChangeResolution(0, &resolution, 40));
      answers.push_back(capture.StartStream(0, 0, &sink, &settings_));
    };
    ASSERT_TRUE(capture.StartStream(0, 0, &sink, &settings_));
    HandOffChannel* channel = creator.last;
    EXPECT_TRUE(channel->HandOver());  // returns into a channel that still exists
    channel->LoseSignal();             // likewise from the capture thread's signal-loss call
    EXPECT_EQ(answers, std::vector<bool>(8, false));
    EXPECT_EQ(creator.last, channel);
    int32_t state = -1, value = 0;
    EXPECT_TRUE(capture.GetCaptureStatus(0, &state, &value, nullptr, false));
    // From another thread the same stop is carried out.
    sink.react = nullptr;
    bool stopped = false;
    std::thread host([&] { stopped = capture.StopStream(0, 0); });
    host.join();
    EXPECT_TRUE(stopped);
  }
}

// One RTP-over-TCP device with short time-outs, and a host whose sink holds the stream's thread until
// the test lets go: a wait that terminating the thread cannot cut short (no cancellation point in it),
// bounded so that a call that waits for it fails.
class HeldHost : public VideoCapture {
 protected:
  HeldHost() {
    std::ofstream(temp_.Path() / "Zephrin.xml") << "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>"
                                                   "</Configuration>";
    driver_.hostDirectory = temp_.Path().string() + "/";
    driver_.deviceInfo.address = "127.0.0.1";
    driver_.deviceInfo.networkTimeout = 100;
    driver_.deviceInfo.streamTimeout = 100;
    held_.react = [this] {
      ++calls_;
      inside_ = true;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (hostHolds_ && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      inside_ = false;
    };
  }
  ~HeldHost() override { hostHolds_ = false; }

  const zephrin::test::TempDir temp_{"zephrin-held"};
  zephrin::test::FakeDriver driver_;
  HandOffCreator creator_{&driver_};
  std::atomic<bool> hostHolds_{true}, inside_{false};
  std::atomic<int> calls_{0};
  ReactingSink held_;
  norvale::CChannelReaper reaper_{&driver_};
};

// A host whose signal-loss call waits on a lock the host holds while it stops the stream or changes
// its resolution (a deadlock if the call waited for the callback): the call returns while the
// callback is still inside, and the stopped stream calls the sink no more.
class HeldStream : public HeldHost, public ::testing::WithParamInterface<bool> {};

TEST_P(HeldStream, StopOrChangeReturnsWhileTheStreamsThreadIsHeldInTheHost) {
  CIPVideoCapture capture(1, &creator_, &reaper_);
  ASSERT_TRUE(capture.StartStream(0, 0, &held_, &settings_));
  while (!inside_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (GetParam()) {
    HandOffChannel* held = creator_.last;
    zephrin::test::TestStreamResolution resolution(320, 240);
    EXPECT_TRUE(capture.ChangeResolution(0, &resolution, 40));
    EXPECT_TRUE(inside_) << "the change waited for the host's call to return";
    EXPECT_NE(creator_.last, held) << "the stream was not started afresh";
    hostHolds_ = false;
    return;
  }
  EXPECT_TRUE(capture.StopStream(0, 0));
  EXPECT_TRUE(inside_) << "the stop waited for the host's call to return";
  const int callsAtStop = calls_;
  hostHolds_ = false;
  reaper_.WaitForAll();
  EXPECT_EQ(calls_, callsAtStop) << "the stream called the host after its stop returned";
}

// Closing a video server while the host holds one camera's stream: every other camera's stream calls
// the host no more once the close has returned, though the held one has not ended yet.
TEST_F(HeldHost, ClosingWhileOneStreamIsHeldSilencesTheOthersAtOnce) {
  std::atomic<int> otherCalls{0};
  ReactingSink other;
  other.react = [&] { ++otherCalls; };
  auto* capture = new CIPVideoCapture(2, &creator_, &reaper_);
  ASSERT_TRUE(capture->StartStream(0, 0, &held_, &settings_));
  ASSERT_TRUE(capture->StartStream(1, 0, &other, &settings_));
  ASSERT_TRUE(zephrin::test::WaitUntil([&] { return inside_ && otherCalls > 0; }));
  norvale::ipcapture::DeleteObject(capture);  // as Close frees it
  const int callsAtClose = otherCalls;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // two rounds of the capture loop
  EXPECT_EQ(otherCalls, callsAtClose) << "another camera's stream called the host after the close returned";
  hostHolds_ = false;
  reaper_.WaitForAll();
}

// A stream's receive thread, which calls the host (a log line) as it starts.
class Receiver : public norvale::CBaseThread {
 public:
  Receiver(norvale::IDriver* driver, std::function<void()> host) : CBaseThread(driver), host_(std::move(host)) {}
  ~Receiver() override { FinalStop(2000); }

 protected:
  void ThreadBody() override {
    host_();
    StopEvent().Wait(10000);
  }
  std::function<void()> host_;
};

// The host changes the resolution from inside a call on the stream's receive thread, so the change
// stops the stream whose thread is the caller. The fresh stream's start outlasts that stop's limit,
// which terminates the caller inside the start: the fresh stream is the table's all the same and is
// freed with it.
TEST_F(VideoCapture, AChangeWhoseCallerIsTerminatedByItsOwnStopLeavesNoChannelBehind) {
  zephrin::test::FakeDriver driver;
  driver.deviceInfo.networkTimeout = 100;
  norvale::CChannelReaper reaper(&driver);
  auto* capture = new CIPVideoCapture(1, &creator_, &reaper);
  Receiver receiver(&driver, [&] {
    zephrin::test::TestStreamResolution resolution(320, 240);
    capture->ChangeResolution(0, &resolution, 40);
  });
  // The first stream runs the receive thread and stops it within the stop limit, as a channel does;
  // the fresh one's start waits where termination reaches it.
  creator_.hook = [&](size_t n, bool start) {
    if (n == 0 && start) receiver.StartThread("Receive");
    if (n == 0 && !start) receiver.StopThread(norvale::StopLimit(&driver));
    if (n == 1 && start) norvale::platform::SleepMs(2000);
  };
  ASSERT_TRUE(capture->StartCapture(0, &sink_, &settings_));
  ASSERT_TRUE(zephrin::test::WaitUntil([&] { return !receiver.IsRunning(); }));
  norvale::ipcapture::DeleteObject(capture);
  reaper.WaitForAll();
  ASSERT_EQ(creator_.logs.size(), 2u);
  EXPECT_TRUE(creator_.logs[1]->deleted) << "the stream started by the terminated caller was never freed";
}

INSTANTIATE_TEST_SUITE_P(VideoCapture, HeldStream, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ChangeResolution" : "StopStream";
                         });

}  // namespace
