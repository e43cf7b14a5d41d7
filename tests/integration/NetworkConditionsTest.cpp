// Live video through the conditions of real networks, encoders and RTSP servers: the simulated camera
// sends RTP packets late, twice or not at all, ends its stream with an RTCP BYE, keeps its session only
// on GET_PARAMETER, sends from another address of the host, or starts its MPEG-4 key frames with a GOV
// header. The frames the driver delivers are held against a clean run's frames and against what the
// simulator says it did.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/CamSimProcess.h"
#include "support/LiveDriverTest.h"
#include "support/HostObjects.h"
#include "support/StreamSettings.h"

namespace {

using namespace norvale::ipcapture;
using Clock = std::chrono::steady_clock;
using namespace zephrin::test;

// The driver's own stream time-out is 15 s; a reconnect started by the camera's BYE shows as a hole of
// one RTSP round, far below it.
constexpr auto kFrameGapBudget = std::chrono::milliseconds(2500);

enum class Expect {
  EveryFrame,         // every frame sent arrives, in order, byte-equal to the clean run's
  KeyFrameAfterLoss,  // frames go missing only after a lost packet, up to the next key frame
  Frames,             // frames arrive, the first a key frame
  NoHole,             // every frame, and the camera never ended the session
  PromptReconnect,    // after each BYE, frames resume within the gap budget
};

struct Condition {
  const char* name;
  int host;                          // the camera's loopback address: 127.0.0.<host>
  std::vector<std::string> options;  // simulator options
  int32_t codec;
  int seconds;
  Expect expect;
  const char* counter;  // the simulator's per-stream count that shows the condition happened, or ""
};

struct Delivered {
  std::vector<uint8_t> data;
  bool key;
  Clock::time_point at;
};

struct Recording {
  std::vector<Delivered> frames;
  std::string status;  // the simulator's status while streaming
  std::vector<std::string> log;
  Clock::time_point end;
};

// A number after "key": in the simulator's status JSON, or -1.
long StatusCount(const std::string& status, const std::string& key) {
  const size_t at = status.find("\"" + key + "\": ");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + key.size() + 4);
}

size_t CountLines(const std::vector<std::string>& log, const std::string& prefix) {
  size_t count = 0;
  for (const auto& line : log) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

void PrintTo(const Condition& condition, std::ostream* out) { *out << condition.name; }

class NetworkConditions : public ::testing::TestWithParam<Condition>, protected zephrin::test::LiveDriverTest {
 protected:
  void SetUp() override { LoadDriver(); }

  // Records the camera on address for the given seconds with the simulator options.
  void Record(const std::string& address, const std::vector<std::string>& options, int32_t codec, int seconds,
              Recording* run) {
    CamSimProcess::Options camOptions;
    camOptions.address = address;
    camOptions.rtsp = true;
    camOptions.profile = "nh222";
    camOptions.auth = "none";
    camOptions.extra = options;
    CamSimProcess camera(camOptions);
    ASSERT_TRUE(camera.Ready()) << camera.Error();

    TestDeviceSource device;
    device.connection.address = address;
    device.connection.port = camera.HttpPort();
    device.camera.model = "ELMO NH222";
    for (const auto& [number, text] : std::map<uint32_t, std::string>{
             {1, "0"}, {2, "6"}, {3, "NH222"}, {4, "1.5.2"}, {8, "d1,vga,cif,qvga"}, {9, "0"}})
      device.SetParam(number, text);
    RecordingLogSink log;
    TestFrameAllocator allocator;
    IIPCaptureDriverEx5* driver = create_();
    ASSERT_NE(driver, nullptr);
    IIPVideoCaptureEx2* capture = driver->Open(&log, &allocator, &device) ? driver->GetVideoCaptureEx2() : nullptr;
    EXPECT_NE(capture, nullptr);
    if (capture) {
      std::mutex mutex;
      RecordingFrameSink sink;
      sink.SetObserver([&](const FrameRecord& frame) {
        const std::string code(reinterpret_cast<const char*>(&frame.code), 4);
        std::lock_guard<std::mutex> lock(mutex);
        run->frames.push_back({frame.data, code == "H264" || code == "DIVX", Clock::now()});
      });
      TestStreamSettings settings;
      settings.format.codec = codec;
      settings.format.resolution = {640, 480};
      settings.rate.frameInterval = 40;
      settings.rate.quality = 70;
      EXPECT_TRUE(capture->StartCapture(0, &sink, &settings));
      std::this_thread::sleep_for(std::chrono::seconds(seconds));
      run->end = Clock::now();
      EXPECT_TRUE(camera.Control("/camsim/status", &run->status));
      EXPECT_TRUE(capture->StopCapture(0));
      std::lock_guard<std::mutex> lock(mutex);  // the capture thread is done with the frames
    }
    driver->Close();
    delete_(driver);
    EXPECT_TRUE(allocator.Balanced());
    run->log = camera.RequestLog();
  }

  // The frames of one clip loop from a clean run, each with its position.
  const std::map<std::vector<uint8_t>, size_t>& CleanCycle() {
    static std::map<std::vector<uint8_t>, size_t> cycle;
    static size_t length = 0;
    if (length == 0) {
      Recording run;
      Record("127.0.0.60", {}, CodecH264, 5, &run);
      const auto& frames = run.frames;
      for (size_t i = 1; i < frames.size() && length == 0; ++i)
        if (!frames.empty() && frames[i].data == frames[0].data) length = i;
      EXPECT_GT(length, 0u) << "the clean run did not see the clip loop (" << frames.size() << " frames)";
      for (size_t i = 0; i < frames.size(); ++i) {
        if (i < length) {
          cycle.emplace(frames[i].data, i);
        } else if (length) {
          EXPECT_EQ(frames[i].data, frames[i % length].data) << "clean frame " << i;
        }
      }
    }
    return cycle;
  }
};

TEST_P(NetworkConditions, TheDriverDeliversWhatTheCameraSent) {
  const Condition& c = GetParam();
  const auto& cycle = c.codec == CodecH264 ? CleanCycle() : std::map<std::vector<uint8_t>, size_t>();
  if (c.codec == CodecH264) {
    ASSERT_FALSE(cycle.empty());
  }
  Recording run;
  ASSERT_NO_FATAL_FAILURE(Record("127.0.0." + std::to_string(c.host), c.options, c.codec, c.seconds, &run));
  if (*c.counter) {
    EXPECT_GT(StatusCount(run.status, c.counter), 0) << run.status;
  }
  ASSERT_FALSE(run.frames.empty());
  EXPECT_TRUE(run.frames.front().key);

  if (c.expect == Expect::Frames) {
    // The first key frame comes at most a group of pictures (25 frames) after the first frame.
    EXPECT_GE(static_cast<long>(run.frames.size()) + 30, StatusCount(run.status, "frames_sent"));
    return;
  }
  if (c.expect == Expect::PromptReconnect) {
    const size_t byes = CountLines(run.log, "EVENT RTSP BYE on h264");
    ASSERT_GT(byes, 0u);
    EXPECT_GT(CountLines(run.log, "RTSP PLAY "), byes) << "a new session after each BYE";
    auto longest = run.end - run.frames.back().at;
    for (size_t i = 1; i < run.frames.size(); ++i) longest = std::max(longest, run.frames[i].at - run.frames[i - 1].at);
    EXPECT_LT(longest, kFrameGapBudget) << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()
                                        << " ms without a frame";
    return;
  }

  // Every frame is one of the clean run's, and each follows its predecessor in the clip, except after a
  // lost packet, where the next frame delivered is a key frame.
  size_t gaps = 0;
  size_t previous = cycle.size();
  for (size_t i = 0; i < run.frames.size(); ++i) {
    const auto found = cycle.find(run.frames[i].data);
    ASSERT_NE(found, cycle.end()) << "frame " << i << " of " << run.frames.size() << " differs from the clean run's";
    if (previous != cycle.size() && found->second != (previous + 1) % cycle.size()) {
      ++gaps;
      EXPECT_TRUE(c.expect == Expect::KeyFrameAfterLoss && run.frames[i].key)
          << "frame " << i << ": clip position " << found->second << " after " << previous;
    }
    previous = found->second;
  }
  // The camera's first key frame comes at most a loop after its first frame.
  if (c.expect == Expect::KeyFrameAfterLoss) {
    EXPECT_GE(run.frames.size(), cycle.size());
  } else {
    EXPECT_GE(static_cast<long>(run.frames.size() + cycle.size()), StatusCount(run.status, "frames_sent"));
  }
  if (c.expect == Expect::KeyFrameAfterLoss) {
    EXPECT_LE(static_cast<long>(gaps), StatusCount(run.status, "packets_lost"));
  }
  if (c.expect == Expect::NoHole) {
    std::string requests;
    for (const auto& line : run.log) requests += line + "\n";
    EXPECT_EQ(CountLines(run.log, "EVENT RTSP BYE"), 0u) << "the session timed out:\n" << requests;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Camera, NetworkConditions,
    ::testing::Values(
        Condition{
            "Late", 61, {"--rtsp-fault", "h264 late=0.1 seed=3"}, CodecH264, 6, Expect::EveryFrame, "packets_late"},
        Condition{"Duplicated",
                  62,
                  {"--rtsp-fault", "h264 dup=0.05 seed=4"},
                  CodecH264,
                  6,
                  Expect::EveryFrame,
                  "packets_duplicated"},
        Condition{"Lost",
                  63,
                  {"--rtsp-fault", "h264 loss=0.02 seed=5"},
                  CodecH264,
                  8,
                  Expect::KeyFrameAfterLoss,
                  "packets_lost"},
        Condition{"Mpeg4Gov", 64, {"--mpeg4-gov"}, CodecMPEG4, 4, Expect::Frames, ""},
        Condition{"GetParameterOnly",
                  65,
                  {"--keepalive", "get_parameter", "--session-timeout", "2"},
                  CodecH264,
                  7,
                  Expect::NoHole,
                  ""},
        Condition{"Bye", 66, {"--rtsp-fault", "h264 bye after=3"}, CodecH264, 9, Expect::PromptReconnect, ""},
        Condition{"OtherSource", 67, {"--rtp-source", "127.0.0.160"}, CodecH264, 4, Expect::EveryFrame, ""}),
    [](const ::testing::TestParamInfo<Condition>& info) { return std::string(info.param.name); });

}  // namespace
