// The RTP channel's capture loop with a short stream time-out, its packet filter and its frame
// hand-off, and the codec channels' stream paths and camera requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "channels/CBaseRTPChannel.h"
#include "channels/CBaseRTSPChannel.h"
#include "channels/CH264ChannelRTSP.h"
#include "channels/CMJPEGChannelRTSP.h"
#include "channels/CMPEGChannelRTSP.h"
#include "support/FakeDriver.h"
#include "runtime/StringUtils.h"
#include "support/HostLock.h"
#include "support/HostObjects.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "unit/streaming/ScriptedRtspServer.h"

namespace {

namespace fs = std::filesystem;
using norvale::ChannelSettings;
using zephrin::test::FakeDriver;
using zephrin::test::RecordingFrameSink;
using zephrin::test::TestFrameBuffer;

using zephrin::test::WaitUntil;

ChannelSettings Request(uint16_t w, uint16_t h, int32_t kind) {
  ChannelSettings s;
  s.frameInterval = 40;
  s.quality = 50;
  s.width = w;
  s.height = h;
  s.streamKind = kind;
  return s;
}

// A device whose configuration file carries RTP over TCP, so the loop opens no UDP port, with a
// stream time-out short enough to watch the loop's rules.
class ChannelDevice : public ::testing::Test {
 protected:
  ChannelDevice() {
    std::ofstream(dir_ / "Zephrin.xml") << "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>"
                                           "</Configuration>";
    driver_.hostDirectory = dir_.string() + "/";
    driver_.deviceInfo.address = "127.0.0.1";
    driver_.deviceInfo.streamTimeout = 600;  // lost after 300 ms, gone after 600 ms
  }

  zephrin::test::TempDir temp_{"zephrin-channel"};
  const fs::path dir_ = temp_.Path();
  FakeDriver driver_;
};

// The receiving side with the network left out: every connection succeeds at once, and the test
// plays the depacketizer.
class LoopChannel : public norvale::CBaseRTPChannel {
 public:
  LoopChannel(norvale::IDriver* driver, norvale::ipcapture::FrameSink* sink) : CBaseRTPChannel(0, driver, sink) {}
  ~LoopChannel() override { Shutdown(); }

  // One finished frame, as a depacketizer hands it over.
  bool Deliver() {
    TestFrameBuffer frame(0x34363248, 4096, "test");
    frame.SetLength(100);
    return OnFrameCompleted(&frame);
  }

  std::atomic<int> prepares{0};
  std::atomic<bool> prepareResult{true};
  std::mutex mutex;
  std::vector<uint16_t> handled;  // sequence numbers given to the depacketizer

 protected:
  bool Prepare() override {
    ++prepares;
    return prepareResult;
  }
  void HandleRTPPacket(const norvale::CRTPPacket& packet) override {
    std::lock_guard<std::mutex> lock(mutex);
    handled.push_back(packet.sequenceNumber);
  }
};

TEST_F(ChannelDevice, TheLoopReconnectsAfterHalfTheTimeOutAndTellsALossOnEveryRoundOfIt) {
  RecordingFrameSink sink;
  LoopChannel channel(&driver_, &sink);
  ASSERT_EQ(channel.RTPMode(), norvale::RTPoverTCP);
  const ChannelSettings request = Request(640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));

  // Frames flow: the channel streams and the camera comes online.
  std::atomic<bool> feeding{true};
  auto feed = [&] {
    while (feeding) {
      channel.Deliver();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  std::thread feeder(feed);
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() == norvale::ChannelStreaming; }));
  ASSERT_TRUE(WaitUntil([&] { return driver_.Contains("Camera 127.0.0.1 is online"); }));
  const int preparesWhileStreaming = channel.prepares.load();

  // The frames stop: the loop reconnects, and the host is told of the loss on every round for as
  // long as it lasts, while the offline line is written once.
  feeding = false;
  feeder.join();
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() != norvale::ChannelStreaming; }));
  ASSERT_TRUE(sink.WaitForSignalLost(3, 10000));
  ASSERT_TRUE(WaitUntil([&] { return channel.prepares.load() >= preparesWhileStreaming + 3; }));
  EXPECT_EQ(driver_.Count("Signal was lost for camera 127.0.0.1"), 1u);
  EXPECT_FALSE(channel.IsOnline());

  // Frames return: online again, and while they flow for longer than the time-out the host hears of
  // no loss.
  feeding = true;
  feeder = std::thread(feed);
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() == norvale::ChannelStreaming; }));
  EXPECT_EQ(driver_.Count("is online"), 2u);
  const size_t toldWhileStreaming = sink.SignalLostCount();
  const size_t framesBefore = sink.FrameCount();
  ASSERT_TRUE(sink.WaitForFrames(framesBefore + 60, 10000));  // 60 frames 20 ms apart outlast 600 ms
  EXPECT_EQ(sink.SignalLostCount(), toldWhileStreaming);

  // A second outage is told again, and its offline line written once more.
  feeding = false;
  feeder.join();
  ASSERT_TRUE(sink.WaitForSignalLost(toldWhileStreaming + 2, 10000));
  EXPECT_EQ(driver_.Count("Signal was lost"), 2u);

  channel.Stop();
  EXPECT_EQ(channel.GetState(), norvale::ChannelStopped);
  EXPECT_EQ(driver_.Count("cannot be stopped"), 0u);
}

TEST_F(ChannelDevice, ABYEFromTheCameraReconnectsAtOnceWithoutASignalLoss) {
  driver_.deviceInfo.streamTimeout = 60000;  // the frames alone would never make it reconnect
  RecordingFrameSink sink;
  LoopChannel channel(&driver_, &sink);
  const ChannelSettings request = Request(640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));
  ASSERT_TRUE(WaitUntil([&] { return channel.Deliver() && channel.GetState() == norvale::ChannelStreaming; }));
  const int prepares = channel.prepares.load();
  channel.OnRTCPBye();  // as the RTCP thread tells it
  EXPECT_TRUE(WaitUntil([&] { return channel.prepares.load() == prepares + 1; }));
  EXPECT_TRUE(WaitUntil([&] { return channel.Deliver() && channel.GetState() == norvale::ChannelStreaming; }));
  channel.Stop();
  EXPECT_EQ(sink.SignalLostCount(), 0u);
}

TEST_F(ChannelDevice, ASinkThatRefusesOrThrowsNeitherStopsTheStreamNorBringsTheCameraOnline) {
  RecordingFrameSink sink;
  LoopChannel channel(&driver_, &sink);
  const ChannelSettings request = Request(640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));
  ASSERT_TRUE(WaitUntil([&] { return channel.prepares.load() >= 1; }));

  for (auto mode : {RecordingFrameSink::Mode::Throw, RecordingFrameSink::Mode::Refuse}) {
    sink.SetMode(mode);
    for (int i = 0; i < 20; ++i) {
      EXPECT_FALSE(channel.Deliver());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(channel.IsOnline());
  }
  // The loop kept going (it reconnects, as no frame was taken), and a sink that accepts again is fed.
  EXPECT_TRUE(WaitUntil([&] { return channel.prepares.load() >= 2; }));
  sink.SetMode(RecordingFrameSink::Mode::Accept);
  ASSERT_TRUE(WaitUntil([&] { return channel.Deliver() && channel.IsOnline(); }));
  EXPECT_GE(sink.FrameCount(), 41u);
}

TEST_F(ChannelDevice, AFailedPreparationIsRetriedEveryRoundWithoutConnecting) {
  RecordingFrameSink sink;
  LoopChannel channel(&driver_, &sink);
  channel.prepareResult = false;
  const ChannelSettings request = Request(640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));
  ASSERT_TRUE(WaitUntil([&] { return channel.prepares.load() >= 3; }));
  EXPECT_NE(channel.GetState(), norvale::ChannelStreaming);
  // The host hears on every round that no video comes.
  ASSERT_TRUE(sink.WaitForSignalLost(2, 5000));
  channel.Stop();
  EXPECT_EQ(driver_.Count("Signal was lost"), 0u);  // it never was online
}

TEST_F(ChannelDevice, TheReceiversPacketsReachTheDepacketizerFromAnyPort) {
  // The sender is checked once, by the receiver, before its queue.
  RecordingFrameSink sink;
  LoopChannel channel(&driver_, &sink);
  norvale::CRTPPacket packet;
  const uint32_t device = norvale::ResolveHost("127.0.0.1");
  ASSERT_EQ(channel.DeviceAddress(), device);
  packet.sequenceNumber = 1;
  channel.OnRTPPacket(norvale::platform::SocketAddress::IPv4(device, 40000), packet);
  packet.sequenceNumber = 2;
  channel.OnRTPPacket(norvale::platform::SocketAddress::IPv4(device, 1), packet);
  std::lock_guard<std::mutex> lock(channel.mutex);
  EXPECT_EQ(channel.handled, (std::vector<uint16_t>{1, 2}));
}

// ---- codec channels -------------------------------------------------------------------------------

class RecordingManager : public norvale::IVideoSettingsManager {
 public:
  bool Apply(norvale::CEvent*, int32_t codec, const ChannelSettings& settings) override {
    std::lock_guard<std::mutex> lock(mutex);
    codecs.push_back(codec);
    requests.push_back(settings);
    return true;
  }
  void Reset(bool keep) override { resets.push_back(keep); }

  std::mutex mutex;
  std::vector<int32_t> codecs;
  std::vector<ChannelSettings> requests;
  std::vector<bool> resets;
};

// A codec channel whose capture thread only waits for its stop, so that the test runs the steps the
// loop would run before connecting.
template <typename Channel>
class Probe : public Channel {
 public:
  using Channel::Channel;
  ~Probe() override { this->Shutdown(); }
  bool RunPrepare() { return this->Prepare(); }

 protected:
  void CaptureThreadBody() override { this->StopEvent().Wait(norvale::platform::kInfinite); }
};
using H264Probe = Probe<norvale::CH264ChannelRTSP>;
using JpegProbe = Probe<norvale::CMJPEGChannelRTSP>;

TEST_F(ChannelDevice, H264StreamPathsFollowTheStreamKindAndTheSecondStream) {
  driver_.params = {{7, "1"}};
  RecordingFrameSink sink;
  auto* manager = new RecordingManager;
  norvale::TSmartPtr<norvale::IVideoSettingsManager> shared(manager);
  struct Case {
    uint16_t w, h;
    int32_t kind;
    const char* path;
  } cases[] = {{640, 480, 0, "h264_2"}, {1280, 720, 0, "h264"}, {1280, 720, 1, "h264_2"}, {1920, 1080, 2, "h264_3"}};
  for (const Case& c : cases) {
    H264Probe channel(0, &driver_, &sink, shared);
    const ChannelSettings request = Request(c.w, c.h, c.kind);
    ASSERT_TRUE(channel.Start(&request));
    ASSERT_TRUE(channel.RunPrepare());
    EXPECT_EQ(channel.ConnectionSettings().path, c.path) << c.w << "x" << c.h << " kind " << c.kind;
  }
  driver_.params = {};  // without the second stream, recording always uses "h264"
  H264Probe channel(0, &driver_, &sink, shared);
  const ChannelSettings request = Request(640, 480, 0);
  ASSERT_TRUE(channel.Start(&request));
  ASSERT_TRUE(channel.RunPrepare());
  EXPECT_EQ(channel.ConnectionSettings().path, "h264");
  EXPECT_EQ(manager->codecs.back(), norvale::ipcapture::CodecH264);
}

TEST_F(ChannelDevice, SessionSettingsComeFromTheDevice) {
  driver_.deviceInfo.user = "operator";
  driver_.deviceInfo.password = "pw";
  driver_.deviceInfo.networkTimeout = 3000;
  RecordingFrameSink sink;
  norvale::TSmartPtr<norvale::IVideoSettingsManager> manager(new RecordingManager);
  norvale::CMPEGChannelRTSP channel(0, &driver_, &sink, manager);
  const norvale::RTSPConnectionSettings settings = channel.ConnectionSettings();
  EXPECT_EQ(settings.host, "127.0.0.1");
  EXPECT_EQ(settings.user, "operator");
  EXPECT_EQ(settings.password, "pw");
  EXPECT_EQ(settings.connectTimeout, 3000u);
  EXPECT_EQ(settings.receiveTimeout, 3000u);
  EXPECT_EQ(settings.serverPort, 554);
  EXPECT_EQ(settings.path, "mpeg4");
}

TEST_F(ChannelDevice, LargeJPEGRequestsAreLoweredOnSeries7Only) {
  RecordingFrameSink sink;
  auto* manager = new RecordingManager;
  norvale::TSmartPtr<norvale::IVideoSettingsManager> shared(manager);
  for (const char* series : {"7", "5"}) {
    driver_.params = {{2, series}};
    JpegProbe channel(0, &driver_, &sink, shared);
    const ChannelSettings request = Request(2592, 1944, 0);
    ASSERT_TRUE(channel.Start(&request));
    ASSERT_TRUE(channel.RunPrepare());
    EXPECT_EQ(channel.ConnectionSettings().path, "jpeg");
  }
  ASSERT_EQ(manager->requests.size(), 2u);
  EXPECT_EQ(manager->codecs[0], norvale::ipcapture::CodecJPEG);
  EXPECT_EQ(manager->requests[0].width, 1920);
  EXPECT_EQ(manager->requests[0].height, 1080);
  EXPECT_EQ(manager->requests[1].width, 2592);
  EXPECT_EQ(manager->requests[1].height, 1944);
}

TEST_F(ChannelDevice, PreparationNeedsAManagerAndNoStop) {
  RecordingFrameSink sink;
  const ChannelSettings request = Request(640, 480, 0);
  JpegProbe withoutManager(0, &driver_, &sink, {});
  ASSERT_TRUE(withoutManager.Start(&request));
  EXPECT_FALSE(withoutManager.RunPrepare());

  auto* manager = new RecordingManager;
  norvale::TSmartPtr<norvale::IVideoSettingsManager> shared(manager);
  JpegProbe stopped(0, &driver_, &sink, shared);
  ASSERT_TRUE(stopped.Start(&request));
  stopped.Stop();  // its stop event is set
  EXPECT_FALSE(stopped.RunPrepare());
  EXPECT_TRUE(manager->requests.empty());
}

TEST_F(ChannelDevice, TheEndOfARecordingStreamForgetsTheCamerasRequests) {
  RecordingFrameSink sink;
  auto* manager = new RecordingManager;
  norvale::TSmartPtr<norvale::IVideoSettingsManager> shared(manager);
  for (int32_t kind : {0, 1, 2}) {
    H264Probe channel(0, &driver_, &sink, shared);
    const ChannelSettings request = Request(640, 480, kind);
    ASSERT_TRUE(channel.Start(&request));
    EXPECT_EQ(channel.GetStreamName(), std::string("Zephrin::") + (kind == 0   ? "RecStream"
                                                                   : kind == 1 ? "LiveStream"
                                                                               : "RemoteStream"));
  }
  EXPECT_EQ(manager->resets, (std::vector<bool>{false, true, true}));
  EXPECT_EQ(shared.UseCount(), 1);  // the channels gave their share back
}

// The host's mutex, and what the held channel's session thread saw when the host let it go.
struct HeldHost {
  zephrin::test::HostLock lock;
  std::atomic<int> inside{0}, backAfterFree{0};
  std::atomic<bool> freed{false};  // the channel's own destructor has run
};

// An interleaved channel whose first packet waits for the host's mutex, as a sink blocked on it.
class HeldRtspChannel : public norvale::CBaseRTSPChannel {
 public:
  HeldRtspChannel(norvale::IDriver* driver, norvale::ipcapture::FrameSink* sink, uint16_t port, HeldHost* host)
      : CBaseRTSPChannel(0, driver, sink), port_(port), host_(host) {}
  ~HeldRtspChannel() override {
    Shutdown();
    host_->freed = true;
  }
  bool OnDescribe(const norvale::SDPDescription&) override { return true; }

 protected:
  bool Prepare() override { return true; }
  void FillStreamPath(norvale::RTSPConnectionSettings& settings) override {
    settings.path = "h264";
    settings.serverPort = port_;
  }
  void HandleRTPPacket(const norvale::CRTPPacket&) override {
    if (packets_++ > 0) return;
    ++host_->inside;
    host_->lock.Pass();
    if (host_->freed) ++host_->backAfterFree;  // returns into a channel that is gone
    --host_->inside;
  }

 private:
  uint16_t port_;
  HeldHost* host_;
  int packets_ = 0;  // only the first one waits
};

TEST_F(ChannelDevice, AnInterleavedChannelIsNotFreedUnderItsSessionThreadHeldInTheHost) {
  namespace test = zephrin::test;
  test::ScriptedRtspServer server([](const test::RtspRequest& r) {
    test::RtspReply reply;
    const bool describe = r.method == "DESCRIBE", setup = r.method == "SETUP";
    reply.text =
        test::Ok(r, setup ? "Session: 1\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n" : "",
                 describe ? "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\na=rtpmap:96 H264/90000\r\n" : "");
    reply.startStream = r.method == "PLAY";
    return reply;
  });
  driver_.deviceInfo.networkTimeout = 300;   // short stop limits
  driver_.deviceInfo.streamTimeout = 60000;  // no reconnection meanwhile
  RecordingFrameSink sink;
  HeldHost host;
  auto* channel = new HeldRtspChannel(&driver_, &sink, server.Port(), &host);
  host.lock.lock();
  const ChannelSettings request = Request(640, 480, 0);
  ASSERT_TRUE(channel->Start(&request));
  ASSERT_TRUE(WaitUntil([&] { return host.inside == 1; }));
  std::thread owner([&] {  // the host deletes the stream while its sink waits for the host's lock
    channel->Stop();
    delete channel;
  });
  // Past the session's stop limit the channel is either freed or waits for its session thread.
  EXPECT_TRUE(WaitUntil([&] { return host.freed || driver_.Count("Waiting for the RTSP client thread") > 0; }, 30000));
  host.lock.unlock();
  owner.join();
  EXPECT_EQ(host.backAfterFree, 0);
}

}  // namespace
