// Live video end to end: the driver, loaded as the host loads it, records from zephrin-camsim over
// loopback. Each simulated camera has its own loopback address, because the driver always opens RTSP
// on port 554 of the device, which needs root.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/CamSimProcess.h"
#include "support/ChildProcess.h"
#include "support/LiveDriverTest.h"
#include "support/HostObjects.h"
#include "support/StreamSettings.h"
#include "support/WaitUntil.h"
#include "support/TempDir.h"

namespace {

using namespace norvale::ipcapture;
using zephrin::test::CamSimProcess;
using zephrin::test::FrameRecord;
using zephrin::test::RecordingFrameSink;
using zephrin::test::RecordingLogSink;
using zephrin::test::TestDeviceSource;
using zephrin::test::TestFrameAllocator;
using zephrin::test::TestStreamSettings;

std::string CodeText(uint32_t code) {
  std::string text;
  for (int i = 0; i < 4; ++i) text += static_cast<char>((code >> (8 * i)) & 0xFF);
  return text;
}

using zephrin::test::WaitUntil;

// A camera profile of the simulator with the host parameters a capability query reports for it.
struct Profile {
  const char* name;
  std::map<uint32_t, std::string> params;
};
const Profile kDome = {"ptz-dome",
                       {{1, "1"}, {2, "3"}, {3, "DH620"}, {4, "2.4.1"}, {8, "720p,d1,vga,cif,qvga"}, {9, "0"}}};
const Profile kNH222 = {"nh222", {{1, "0"}, {2, "6"}, {3, "NH222"}, {4, "1.5.2"}, {8, "d1,vga,cif,qvga"}, {9, "0"}}};

class LiveVideo : public ::testing::Test, protected zephrin::test::LiveDriverTest {
 protected:
  void SetUp() override { LoadDriver(); }

  void TearDown() override {
    if (driver_) {
      driver_->Close();
      delete_(driver_);
    }
    if (camera_) {
      // Every frame buffer the driver obtained went back to the allocator, once.
      EXPECT_TRUE(allocator_.Balanced()) << allocator_.Outstanding() << " outstanding, " << allocator_.BadReleases()
                                         << " bad releases";
      EXPECT_EQ(log_.Count("cannot be stopped"), 0u) << "a capture thread overran its stop limit";
    }
  }

  // Starts the simulated camera on its own address and opens the driver for it.
  void OpenCamera(const std::string& address, const Profile& profile) {
    CamSimProcess::Options options;
    options.address = address;
    options.rtsp = true;
    options.profile = profile.name;
    options.user = "operator";
    options.password = "secret";
    camera_ = std::make_unique<CamSimProcess>(options);
    ASSERT_TRUE(camera_->Ready()) << camera_->Error();

    device_.connection.address = address;
    device_.connection.port = camera_->HttpPort();
    device_.connection.user = "operator";
    device_.connection.password = "secret";
    device_.camera.model = std::string("ELMO ") + profile.params.at(3);
    for (const auto& [number, text] : profile.params) device_.SetParam(number, text);
    driver_ = create_();
    ASSERT_NE(driver_, nullptr);
    ASSERT_TRUE(driver_->Open(&log_, &allocator_, &device_));
    capture_ = driver_->GetVideoCaptureEx2();
    ASSERT_NE(capture_, nullptr);
  }

  static void Ask(TestStreamSettings* settings, int32_t codec, uint16_t width, uint16_t height, uint16_t interval,
                  uint16_t quality = 70) {
    settings->format.codec = codec;
    settings->format.resolution = {width, height};
    settings->rate.frameInterval = interval;
    settings->rate.quality = quality;
  }

  int32_t State() {
    int32_t state = -1;
    int32_t value = 0;
    return capture_->GetCaptureStatus(0, &state, &value, nullptr, false) ? state : -1;
  }

  std::vector<std::string> LogLines(const std::string& prefix) {
    std::vector<std::string> lines;
    for (const auto& line : camera_->RequestLog())
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
  }

  std::unique_ptr<CamSimProcess> camera_;
  TestDeviceSource device_;
  RecordingLogSink log_;
  TestFrameAllocator allocator_;
  IIPCaptureDriverEx5* driver_ = nullptr;
  IIPVideoCaptureEx2* capture_ = nullptr;
};

TEST_F(LiveVideo, FramesOfEachCodecArriveWithTheirCodesAndSizes) {
  ASSERT_NO_FATAL_FAILURE(OpenCamera("127.0.0.51", kNH222));
  struct Case {
    int32_t codec;
    const char* key;    // code of a frame that decodes on its own
    const char* other;  // code of the frames between
  } cases[] = {{CodecH264, "H264", "I264"}, {CodecJPEG, "JPEG", "JPEG"}, {CodecMPEG4, "DIVX", "DIVI"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    RecordingFrameSink sink;
    TestStreamSettings settings;
    Ask(&settings, c.codec, 640, 480, 40);
    ASSERT_TRUE(capture_->StartCapture(0, &sink, &settings));
    ASSERT_TRUE(sink.WaitForFrames(10, 20000)) << sink.FrameCount() << " frames";
    EXPECT_EQ(State(), 0);
    EXPECT_TRUE(capture_->StopCapture(0));
    const auto frames = sink.Frames();
    EXPECT_EQ(CodeText(frames.front().code), c.key);
    for (const FrameRecord& frame : frames) {
      const std::string code = CodeText(frame.code);
      EXPECT_TRUE(code == c.key || code == c.other) << code;
      EXPECT_EQ(frame.width, 640);
      EXPECT_EQ(frame.height, 480);
      EXPECT_EQ(frame.stream, "Zephrin::RecStream");
      EXPECT_TRUE(frame.timeSet);
      EXPECT_GT(frame.length, 0u);
    }
  }
  EXPECT_TRUE(log_.Contains("Camera 127.0.0.51 is online"));
}

TEST_F(LiveVideo, TheSettingsRoundWritesTheChangedParametersOnce) {
  ASSERT_NO_FATAL_FAILURE(OpenCamera("127.0.0.52", kDome));
  for (int run = 0; run < 2; ++run) {
    RecordingFrameSink sink;
    TestStreamSettings settings;
    Ask(&settings, CodecH264, 1280, 720, 200, 100);  // 5 frames per second: frame skip 10 gives 3 on NTSC
    ASSERT_TRUE(capture_->StartCapture(0, &sink, &settings));
    ASSERT_TRUE(sink.WaitForFrames(3, 20000));
    EXPECT_TRUE(capture_->StopCapture(0));
  }
  std::vector<std::string> updates;
  for (const auto& line : LogLines("GET /cgi-bin/admin/param.cgi?action=update"))
    if (line.size() > 4 && line.compare(line.size() - 4, 4, " 200") == 0) updates.push_back(line);
  ASSERT_EQ(updates.size(), 1u) << "the second identical request finds the camera set already";
  EXPECT_EQ(updates[0],
            "GET /cgi-bin/admin/param.cgi?action=update&Image.I0.Appearance.H264Bitrate=8000&Frameskip.H264=2"
            "&Image.I0.Appearance.H264VideoKeyFrameInterval=2 200");
  EXPECT_EQ(LogLines("GET /cgi-bin/admin/param.cgi?action=list&group=Image.I0.Appearance&group=Frameskip 200").size(),
            2u);
}

TEST_F(LiveVideo, ASignalLossReconnectsIsToldWhileItLastsAndLoggedOnce) {
  ASSERT_NO_FATAL_FAILURE(OpenCamera("127.0.0.53", kDome));
  RecordingFrameSink sink;
  TestStreamSettings settings;
  Ask(&settings, CodecH264, 640, 480, 33);
  ASSERT_TRUE(capture_->StartCapture(0, &sink, &settings));
  ASSERT_TRUE(sink.WaitForFrames(5, 20000));
  ASSERT_TRUE(WaitUntil([&] { return State() == 0; }, 5000));
  const size_t describes = LogLines("RTSP DESCRIBE").size();

  // No video for longer than the whole stream time-out (10 s) plus a reconnection.
  ASSERT_TRUE(camera_->Control("/camsim/rtsp-fault?path=h264&stall=22"));
  EXPECT_TRUE(WaitUntil([&] { return State() == 2; }, 9000)) << "state after half the time-out";
  EXPECT_TRUE(WaitUntil([&] { return LogLines("RTSP DESCRIBE").size() > describes; }, 9000)) << "no reconnection";
  ASSERT_TRUE(sink.WaitForSignalLost(1, 20000));
  ASSERT_TRUE(log_.WaitFor("Signal was lost", 1000));
  EXPECT_EQ(log_.Count("Signal was lost for camera 127.0.0.53"), 1u);
  EXPECT_EQ(log_.LevelOf("Signal was lost"), 1);

  // The video comes back: the channel streams again, the host hears of no loss while frames flow,
  // and the offline line was written once for the whole outage.
  const size_t before = sink.FrameCount();
  ASSERT_TRUE(sink.WaitForFrames(before + 5, 25000));
  ASSERT_TRUE(WaitUntil([&] { return State() == 0; }, 5000));
  const size_t told = sink.SignalLostCount();
  EXPECT_GE(told, 1u);
  ASSERT_TRUE(sink.WaitForFrames(sink.FrameCount() + 60, 20000));
  EXPECT_EQ(sink.SignalLostCount(), told);
  EXPECT_EQ(log_.Count("Signal was lost"), 1u);
  EXPECT_EQ(log_.Count("Camera 127.0.0.53 is online"), 2u);
  EXPECT_TRUE(capture_->StopCapture(0));
}

// Sends RTP packets from the camera's address to a local port, as an old session would. A Linux
// program sends them (also for a test under Wine), from the address the camera's own stream uses.
class StraySender {
 public:
  StraySender(const std::string& from, uint16_t toPort) {
    const std::string script =
        "import socket, sys, time\n"
        "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
        "s.bind((sys.argv[1], 0))\n"
        "print('sending', flush=True)\n"
        "sequence = 0\n"
        "while True:\n"
        "    s.sendto(bytes([0x80, 96, (sequence >> 8) & 255, sequence & 255]) + bytes(16), ('127.0.0.1', "
        "int(sys.argv[2])))\n"
        "    sequence += 1\n"
        "    time.sleep(0.05)\n";
    std::string error;
    EXPECT_TRUE(process_.Start({"/usr/bin/python3", "-c", script, from, std::to_string(toPort)}, &error)) << error;
    // Started once the first packets are on their way.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
      if (!process_.Read(&text, 100)) break;
    EXPECT_EQ(text, "sending\n");
  }

 private:
  zephrin::test::ChildProcess process_;
};

TEST_F(LiveVideo, APortPairThatTheCameraAlreadySendsToIsPassedOver) {
  ASSERT_NO_FATAL_FAILURE(OpenCamera("127.0.0.54", kDome));
  StraySender stray("127.0.0.54", 3556);
  RecordingFrameSink sink;
  TestStreamSettings settings;
  Ask(&settings, CodecH264, 640, 480, 33);
  ASSERT_TRUE(capture_->StartCapture(0, &sink, &settings));
  ASSERT_TRUE(sink.WaitForFrames(5, 20000));
  const auto setups = LogLines("RTSP SETUP");
  ASSERT_EQ(setups.size(), 1u);
  EXPECT_NE(setups[0].find("client_port=3558-3559"), std::string::npos) << setups[0];
  EXPECT_TRUE(capture_->StopCapture(0));
}

TEST_F(LiveVideo, AStreamOfAnotherKindRunsBesideStream0) {
  ASSERT_NO_FATAL_FAILURE(OpenCamera("127.0.0.55", kDome));
  RecordingFrameSink recording, live;
  TestStreamSettings recordingSettings, liveSettings;
  Ask(&recordingSettings, CodecH264, 1280, 720, 33);
  Ask(&liveSettings, CodecH264, 640, 480, 33);
  ASSERT_TRUE(capture_->StartCapture(0, &recording, &recordingSettings));
  ASSERT_TRUE(capture_->StartStream(0, 1, &live, &liveSettings));
  ASSERT_TRUE(recording.WaitForFrames(10, 20000));
  ASSERT_TRUE(live.WaitForFrames(10, 20000));
  EXPECT_EQ(live.Frames().front().stream, "Zephrin::LiveStream");
  EXPECT_EQ(recording.Frames().front().stream, "Zephrin::RecStream");
  EXPECT_EQ(recording.Frames().front().width, 1280);

  std::set<std::string> paths;
  for (const auto& line : LogLines("RTSP SETUP")) paths.insert(line.substr(0, line.find("/stream=")));
  EXPECT_EQ(paths, (std::set<std::string>{"RTSP SETUP rtsp://127.0.0.55:554/h264",
                                          "RTSP SETUP rtsp://127.0.0.55:554/h264_2"}));

  // Stopping the live stream leaves the recording running.
  EXPECT_TRUE(capture_->StopStream(0, 1));
  const size_t before = recording.FrameCount();
  EXPECT_TRUE(recording.WaitForFrames(before + 10, 10000));
  EXPECT_EQ(State(), 0);
  EXPECT_TRUE(capture_->StopCapture(0));
}

TEST_F(LiveVideo, AFrameSinkThatThrowsOrRefusesDoesNotEndTheStream) {
  ASSERT_NO_FATAL_FAILURE(OpenCamera("127.0.0.56", kDome));
  RecordingFrameSink sink;
  sink.SetMode(RecordingFrameSink::Mode::Throw);
  TestStreamSettings settings;
  Ask(&settings, CodecJPEG, 640, 480, 33);
  ASSERT_TRUE(capture_->StartCapture(0, &sink, &settings));
  ASSERT_TRUE(sink.WaitForFrames(5, 20000));
  sink.SetMode(RecordingFrameSink::Mode::Refuse);
  ASSERT_TRUE(sink.WaitForFrames(sink.FrameCount() + 5, 20000));
  EXPECT_FALSE(log_.Contains("is online"));  // nothing was taken

  sink.SetMode(RecordingFrameSink::Mode::Accept);
  ASSERT_TRUE(log_.WaitFor("Camera 127.0.0.56 is online", 20000));
  EXPECT_TRUE(capture_->StopCapture(0));
}

#ifndef _WIN32
// zephrin-host is a Linux program (it writes its recordings through FFmpeg's libraries).
TEST_F(LiveVideo, ZephrinHostRecordsAStreamToAFile) {
  CamSimProcess::Options options;
  options.address = "127.0.0.57";
  options.rtsp = true;
  options.profile = kDome.name;
  CamSimProcess camera(options);
  ASSERT_TRUE(camera.Ready()) << camera.Error();
  const zephrin::test::TempDir temp("zephrin-record");
  const std::string path = temp.File("recording.h264");
  const std::string command = std::string(ZEPHRIN_BIN_DIR) + "/zephrin-host record --address 127.0.0.57 --port " +
                              std::to_string(camera.HttpPort()) +
                              " --param 1=1 --param 2=3 --param 8=720p,d1,vga,cif,qvga --param 9=0 --codec h264"
                              " --size 1280x720 --fps 30 --duration 4 --progress 0 --quiet --out " +
                              path + " 2>&1";
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = ::pclose(pipe);
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(output.find("H264: "), std::string::npos) << output;
  EXPECT_NE(output.find("1280x720: "), std::string::npos) << output;
  EXPECT_NE(output.find("signal losses: 0"), std::string::npos) << output;
  FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  unsigned char head[4] = {};
  EXPECT_EQ(std::fread(head, 1, 4, file), 4u);
  std::fclose(file);
  EXPECT_EQ(head[0], 0);  // an Annex B start code opens the stream
  EXPECT_EQ(head[1], 0);
}
#endif

}  // namespace
