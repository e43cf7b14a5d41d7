// A whole receive path against GStreamer's RTSP server (tests/interop/rtsp_test_server.py): the RTSP
// client, RTP reception (UDP with the RTCP handler beside it, TCP or interleaved), the depacketizer of
// the codec, and ffmpeg decoding what was delivered.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "interop/DecodeCheck.h"
#include "platform/Platform.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/CH264RTPMediaParser.h"
#include "streaming/CJpegRTPMediaParser.h"
#include "streaming/CMpeg4RTPMediaParser.h"
#include "streaming/CRTCPHandler.h"
#include "streaming/CRTPReceiver.h"
#include "support/FakeDriver.h"
#include "support/MemoryFrameAllocator.h"
#include "support/WaitUntil.h"

namespace zephrin::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFps = 25;
constexpr size_t kWantedFrames = 100;

using zephrin::test::WaitUntil;

// The server as a child process on a port it picks itself; it reports "READY <port>".
class RtspServer {
 public:
  RtspServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string script = std::string(ZEPHRIN_INTEROP_DIR) + "/rtsp_test_server.py";
    const std::string fps = std::to_string(kFps);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      execl("/usr/bin/python3", "python3", script.c_str(), "--address", "127.0.0.1", "--port", "0", "--fps",
            fps.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    fd_ = fds[0];
    reader_ = std::thread([this] { Read(); });
    WaitUntil([this] { return port_ != 0 || exited_; }, 30000);
  }
  ~RtspServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      if (!WaitUntil([this] { return exited_.load(); }, 5000)) kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
  }
  uint16_t Port() const { return port_; }

 private:
  void Read() {
    std::string pending;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd_, buffer, sizeof(buffer))) > 0) {
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        const std::string line = pending.substr(0, end);
        if (line.rfind("READY ", 0) == 0) port_ = static_cast<uint16_t>(std::stoi(line.substr(6)));
      }
    }
    exited_ = true;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::atomic<uint16_t> port_{0};
  std::atomic<bool> exited_{false};
  std::thread reader_;
};

RtspServer& Server() {
  static RtspServer server;
  return server;
}

// The channel's part: packets from either path go to the depacketizer, whose frames are kept.
class Channel : public norvale::IRTSPClientUser, public norvale::IRTPReceiverUser, public norvale::IMediaParserClient {
 public:
  Channel(norvale::CRTPMediaParser& parser, norvale::CRTCPHandler* rtcp) : parser_(parser), rtcp_(rtcp) {
    parser_.SetClient(this);
  }

  bool OnDescribe(const norvale::SDPDescription& d) override {
    parser_.SetParameterSets(d.sps, d.pps, d.config);
    return true;
  }
  void OnInterleavedPacket(const norvale::CRTPPacket& packet) override { Take(packet); }
  void OnClientStopped() override {}
  void OnRTPPacket(const norvale::platform::SocketAddress&, const norvale::CRTPPacket& packet) override {
    Take(packet);
  }
  void OnRTPTimeout() override {}
  void OnRTPClosed() override {}

  bool OnFrameCompleted(norvale::ipcapture::FrameBuffer* frame) override {
    auto* buffer = dynamic_cast<MemoryFrameBuffer*>(frame);
    if (!buffer) return false;
    DeliveredFrame f;
    f.code = FourCCText(buffer->code);
    f.data.assign(buffer->data.begin(), buffer->data.begin() + std::min<size_t>(buffer->length, buffer->data.size()));
    f.width = buffer->width;
    f.height = buffer->height;
    f.rtpTimestamp = lastTimestamp_;
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(std::move(f));
    return true;
  }
  std::pair<uint16_t, uint16_t> GetRequestedSize() override { return {320, 240}; }
  std::string GetStreamName() override { return "Zephrin::LiveStream"; }
  void ConvertTime(uint32_t rtpTimestamp, norvale::ipcapture::SystemTimeRecord* time) override {
    lastTimestamp_ = rtpTimestamp;
    *time = {};
  }

  size_t FrameCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }
  std::vector<DeliveredFrame> Frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  void Take(const norvale::CRTPPacket& packet) {
    if (rtcp_) rtcp_->UpdateSequence(packet.sequenceNumber);
    parser_.ProcessPacket(packet);
  }

  norvale::CRTPMediaParser& parser_;
  norvale::CRTCPHandler* rtcp_;
  uint32_t lastTimestamp_ = 0;
  std::mutex mutex_;
  std::vector<DeliveredFrame> frames_;
};

std::unique_ptr<norvale::CRTPMediaParser> MakeParser(const std::string& codec, norvale::IDriver* driver) {
  if (codec == "h264") return std::make_unique<norvale::CH264RTPMediaParser>(driver);
  if (codec == "jpeg") return std::make_unique<norvale::CJpegRTPMediaParser>(driver);
  return std::make_unique<norvale::CMpeg4RTPMediaParser>(driver);
}

using Case = std::tuple<std::string, norvale::RTPMode>;  // codec, transport

class DepacketizerRtspInterop : public testing::TestWithParam<Case> {};

TEST_P(DepacketizerRtspInterop, DeliveredFramesDecodeWithoutErrorAtTheStreamsRate) {
  const auto& [codec, mode] = GetParam();
  ASSERT_NE(Server().Port(), 0) << "the GStreamer RTSP test server did not start";

  FakeDriver driver;
  MemoryFrameAllocator allocator;
  driver.frameAllocator = &allocator;
  std::unique_ptr<norvale::CRTPMediaParser> parser = MakeParser(codec, &driver);
  norvale::CRTCPHandler rtcp(&driver);
  Channel channel(*parser, mode == norvale::RTPoverUDP ? &rtcp : nullptr);
  norvale::CRTPReceiver receiver(&driver);

  norvale::RTSPConnectionSettings settings;
  settings.host = "127.0.0.1";
  settings.serverPort = Server().Port();
  settings.path = codec;
  if (mode == norvale::RTPoverUDP) {
    receiver.SetUser(&channel);
    for (uint16_t port = static_cast<uint16_t>(40000 + (getpid() % 400) * 40); port < 60000; port += 2) {
      if (!receiver.Start(port)) continue;
      if (rtcp.Start(norvale::platform::ResolveIPv4("127.0.0.1"), static_cast<uint16_t>(port + 1))) {
        settings.clientRTPPort = port;
        settings.clientRTCPPort = static_cast<uint16_t>(port + 1);
        break;
      }
      receiver.Stop();
    }
    ASSERT_NE(settings.clientRTPPort, 0);
  }

  norvale::CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(settings, &channel, mode));
  const bool enough = WaitUntil([&] { return channel.FrameCount() >= kWantedFrames; }, 30000);
  // With UDP the camera's sender reports are answered while the stream runs.
  const bool reported = mode != norvale::RTPoverUDP || WaitUntil([&] { return rtcp.ReportsSent() > 0; }, 15000);
  client.Stop();
  receiver.Stop();
  rtcp.Stop();
  ASSERT_TRUE(enough) << "frames delivered: " << channel.FrameCount();
  EXPECT_TRUE(reported) << "no receiver report was sent";
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.allocations, allocator.releases);

  const std::vector<DeliveredFrame> frames = channel.Frames();
  // Every picture of the stream's rate is there: each frame's time stamp one frame period per picture
  // after the previous one. (The MPEG-4 payloader packs small VOPs together; RFC 3016 allows it, and
  // such a packet is one frame holding several pictures.)
  std::vector<uint32_t> pictures;
  size_t totalPictures = 0;
  for (const auto& f : frames) {
    uint32_t n = 1;
    if (codec == "mpeg4") {
      n = 0;
      for (size_t i = 0; i + 3 < f.data.size(); ++i)
        n += f.data[i] == 0 && f.data[i + 1] == 0 && f.data[i + 2] == 1 && f.data[i + 3] == 0xB6;
    }
    pictures.push_back(n);
    totalPictures += n;
  }
  for (size_t i = 1; i < frames.size(); ++i)
    ASSERT_EQ(frames[i].rtpTimestamp - frames[i - 1].rtpTimestamp, 90000u / kFps * pictures[i - 1])
        << "after frame " << i;
  for (const auto& f : frames) {
    ASSERT_EQ(f.width, 320);
    ASSERT_EQ(f.height, 240);
  }

  TempDir dir;
  const std::string format = codec == "h264" ? "h264" : codec == "jpeg" ? "mjpeg" : "m4v";
  std::vector<uint8_t> stream;
  for (const auto& f : frames) stream.insert(stream.end(), f.data.begin(), f.data.end());
  if (codec == "h264") stream.resize(stream.size() - 5);  // the last frame's closing delimiter
  const std::string path = dir.File("delivered." + format);
  ASSERT_TRUE(WriteFile(path, stream));
  const StreamInfo info = ProbeStream(path, format);
  EXPECT_EQ(info.errors, "");
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_EQ(info.frames, static_cast<int>(totalPictures));
}

INSTANTIATE_TEST_SUITE_P(CodecsAndTransports, DepacketizerRtspInterop,
                         testing::Values(Case{"h264", norvale::RTPoverUDP}, Case{"jpeg", norvale::RTPoverRTSP},
                                         Case{"mpeg4", norvale::RTPoverTCP}, Case{"jpeg", norvale::RTPoverUDP}),
                         [](const testing::TestParamInfo<Case>& info) {
                           const int mode = std::get<1>(info.param);
                           return std::get<0>(info.param) + "_" +
                                  (mode == norvale::RTPoverUDP   ? "UDP"
                                   : mode == norvale::RTPoverTCP ? "TCP"
                                                                 : "RTSP");
                         });

}  // namespace
}  // namespace zephrin::test
