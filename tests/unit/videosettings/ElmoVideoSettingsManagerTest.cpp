// The camera family's video settings manager against a simulated camera: which parameters one
// round writes for single-stream and multi-stream cameras, how the camera's answer is judged, and
// when the device configuration file is read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/StringUtils.h"
#include "support/FakeDriver.h"
#include "videosettings/CElmoVideoSettingsManager.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using norvale::ChannelSettings;
using norvale::CResultDef;
using zephrin::test::FakeDriver;

// The camera's parameter store behind its CGI paths: a list answers with every parameter, an update
// stores the terms and answers with the configured text.
class SimulatedCameraManager : public norvale::CElmoVideoSettingsManager {
 public:
  SimulatedCameraManager(norvale::IDriver* driver, std::map<std::string, std::string> params)
      : CElmoVideoSettingsManager(driver, 0, false), params_(std::move(params)) {
    StartWorker(WorkerName());
  }
  ~SimulatedCameraManager() override { StopWorker(); }

  std::vector<std::string> Updates() {
    std::lock_guard<std::mutex> lock(mutex_);
    return updates_;
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::string Param(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return params_[name];
  }

  std::string updateAnswer = "OK\r\n";
  CResultDef failure;  // handed back instead of an answer when its code is not 0

 protected:
  CResultDef RequestGet(const std::string& path, std::string* body) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(path);
    body->clear();
    if (!failure.Succeeded()) return failure;
    const std::string update = kUpdatePath;
    if (path.rfind(update, 0) == 0) {
      const std::string terms = path.substr(update.size());
      updates_.push_back(terms);
      if (updateAnswer.find_first_not_of("OK\r\n") == std::string::npos) {
        for (const std::string& term : norvale::Split(terms, "&")) {
          const size_t equals = term.find('=');
          if (equals != std::string::npos) params_[term.substr(0, equals)] = term.substr(equals + 1);
        }
      }
      *body = updateAnswer;
      return {};
    }
    for (const auto& [name, value] : params_) *body += "root." + name + "=" + value + "\r\n";
    return {};
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> params_;
  std::vector<std::string> updates_;
  std::vector<std::string> requests_;
};

ChannelSettings Request(int32_t kind, uint16_t w, uint16_t h, int32_t interval, int32_t quality) {
  ChannelSettings s;
  s.frameInterval = interval;
  s.quality = quality;
  s.width = w;
  s.height = h;
  s.streamKind = kind;
  return s;
}

// A dome of series 3: NTSC, frame skip, one stream of each codec, two-entry resolution sets.
std::map<std::string, std::string> DomeParams() {
  return {{"Image.I0.Appearance.Resolution", "cif,720p"},
          {"Image.I0.Appearance.MjpegQfactor", "35"},
          {"Image.I0.Appearance.H264Bitrate", "2048"},
          {"Image.I0.Appearance.H264VideoKeyFrameInterval", "29"},
          {"Frameskip.Mjpeg", "0"},
          {"Frameskip.H264", "0"}};
}

// A multi-stream camera of series 7: PAL, frame-rate option, five-entry resolution sets.
std::map<std::string, std::string> MultiStreamParams() {
  return {{"Image.I0.Appearance.Resolution", "disable,1080p,vga,qvga,disable"},
          {"Image.I0.Appearance.MjpegQfactor", "35"},
          {"Image.I0.Appearance.H264Bitrate", "6144"},
          {"Image.I0.Appearance.H264VideoKeyFrameInterval", "24"},
          {"Image.I0.Appearance.H264_2Bitrate", "1024"},
          {"Image.I0.Appearance.H264_2VideoKeyFrameInterval", "24"},
          {"Framerate.Mjpeg", "15"},
          {"Framerate.H264", "25"},
          {"Framerate.H264_2", "25"}};
}

class ElmoVideoSettingsManager : public ::testing::Test {
 protected:
  ElmoVideoSettingsManager() {
    driver_.hostDirectory = dir_.string() + "/";
    driver_.deviceInfo.address = "10.0.0.7";
    driver_.deviceInfo.port = 80;
  }

  void Dome() {
    driver_.videoStandard = 1;
    driver_.params = {{1, "1"}, {2, "3"}, {8, "720p,d1,vga,cif,qvga"}, {9, "0"}};
  }
  void MultiStream() {
    driver_.videoStandard = 0;
    driver_.params = {{1, "0"}, {2, "7"}, {8, "1080p,720p,d1,vga,qvga"}, {9, "1"}};
  }
  void WriteFile(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }

  zephrin::test::TempDir temp_{"zephrin-vsm"};
  const fs::path dir_ = temp_.Path();
  FakeDriver driver_;
};

TEST_F(ElmoVideoSettingsManager, ASingleStreamRoundWritesOnlyTheTermsThatDiffer) {
  Dome();
  SimulatedCameraManager camera(&driver_, DomeParams());
  // 30 fps at 720p: only the bit rate differs (quality 50 of 64..8000 is 3991).
  EXPECT_TRUE(camera.Apply(nullptr, 3, Request(0, 1280, 720, 33, 50)));
  ASSERT_EQ(camera.Updates().size(), 1u);
  EXPECT_EQ(camera.Updates()[0], "&Image.I0.Appearance.H264Bitrate=3991");
  EXPECT_EQ(camera.Requests()[0], "/cgi-bin/admin/param.cgi?action=list&group=Image.I0.Appearance&group=Frameskip");

  // The same request again: the camera is right already, nothing is written.
  EXPECT_TRUE(camera.Apply(nullptr, 3, Request(0, 1280, 720, 33, 50)));
  EXPECT_EQ(camera.Updates().size(), 1u);

  // 5 fps asked of a 30 fps sensor: skip option 10 (position 2) gives 3 fps, the key-frame interval
  // follows the resulting rate; quality 100 is the top of the range.
  EXPECT_TRUE(camera.Apply(nullptr, 3, Request(0, 1280, 720, 200, 100)));
  ASSERT_EQ(camera.Updates().size(), 2u);
  EXPECT_EQ(camera.Updates()[1],
            "&Image.I0.Appearance.H264Bitrate=8000&Frameskip.H264=2&Image.I0.Appearance.H264VideoKeyFrameInterval=2");
}

TEST_F(ElmoVideoSettingsManager, JPEGQualityAndResolutionSetOfASingleStreamCamera) {
  Dome();
  SimulatedCameraManager camera(&driver_, DomeParams());
  // VGA for JPEG: the smallest JPEG entry not below VGA is D1, found in the set "d1,720p".
  EXPECT_TRUE(camera.Apply(nullptr, 1, Request(0, 640, 480, 200, 100)));
  ASSERT_EQ(camera.Updates().size(), 1u);
  EXPECT_EQ(camera.Updates()[0],
            "&Image.I0.Appearance.MjpegQfactor=70&Image.I0.Appearance.Resolution=d1,720p&Frameskip.Mjpeg=2");
  EXPECT_EQ(camera.Param("Image.I0.Appearance.Resolution"), "d1,720p");

  EXPECT_TRUE(camera.Apply(nullptr, 1, Request(0, 640, 480, 200, 1)));
  EXPECT_EQ(camera.Updates().back(), "&Image.I0.Appearance.MjpegQfactor=1");
}

TEST_F(ElmoVideoSettingsManager, FrameRateOptionCamerasGetRateAndKeyFrameInterval) {
  driver_.params = {{1, "0"}, {2, "4"}, {8, "d1,vga,cif,qvga"}, {9, "1"}};
  SimulatedCameraManager camera(&driver_, {{"Image.I0.Appearance.Resolution", "d1,d1"},
                                           {"Image.I0.Appearance.Mpeg4Bitrate", "3000"},
                                           {"Image.I0.Appearance.Mpeg4VideoKeyFrameInterval", "24"},
                                           {"Framerate.Mpeg4", "25"}});
  EXPECT_TRUE(camera.Apply(nullptr, 2, Request(0, 352, 288, 100, 50)));
  ASSERT_EQ(camera.Updates().size(), 1u);
  EXPECT_EQ(
      camera.Updates()[0],
      "&Image.I0.Appearance.Mpeg4Bitrate=3991&Framerate.Mpeg4=10&Image.I0.Appearance.Mpeg4VideoKeyFrameInterval=9");
  EXPECT_EQ(camera.Requests()[0], "/cgi-bin/admin/param.cgi?action=list&group=Image.I0.Appearance&group=Framerate");
}

TEST_F(ElmoVideoSettingsManager, TheCamerasAnswerMustBeOK) {
  Dome();
  SimulatedCameraManager camera(&driver_, DomeParams());
  EXPECT_TRUE(camera.VerifyResponse("OK\r\n", "x").Succeeded());
  EXPECT_TRUE(camera.VerifyResponse("OK", "").Succeeded());

  const CResultDef empty = camera.VerifyResponse("", "/u");
  EXPECT_EQ(empty.Code(), 13);
  EXPECT_EQ(empty.Level(), 1);
  EXPECT_EQ(empty.Message(),
            "norvale::CElmoVideoSettingsManager::VerifyResponse: Device 10.0.0.7:80 returns empty response for \"/u\" "
            "request string.");
  EXPECT_EQ(camera.VerifyResponse("", "").Message(),
            "norvale::CElmoVideoSettingsManager::VerifyResponse: Device 10.0.0.7:80 returns empty response.");

  camera.updateAnswer = "# Error: Error setting 'root.Image.I0.Appearance.H264Bitrate' to '3991'!";
  EXPECT_FALSE(camera.Apply(nullptr, 3, Request(0, 1280, 720, 33, 50)));
  const auto lines = driver_.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().level, 1);
  EXPECT_EQ(lines.back().text,
            "norvale::CElmoVideoSettingsManager::VerifyResponse: Cannot apply parameters to device 10.0.0.7:80 using "
            "\"/cgi-bin/admin/param.cgi?action=update&Image.I0.Appearance.H264Bitrate=3991\" request string. "
            "Reason: # Error: Error setting 'root.Image.I0.Appearance.H264Bitrate' to '3991'!");
  EXPECT_EQ(camera.VerifyResponse("OK\r\nX", "").Code(), 14);
}

TEST_F(ElmoVideoSettingsManager, AFailedListEndsTheRoundWithoutAnUpdate) {
  Dome();
  SimulatedCameraManager camera(&driver_, DomeParams());
  camera.failure.SetResultEx(1, 10, "%s: device %s is unable to process the request: credentials are invalid",
                             "norvale::HUtils::RequestGetRD", "10.0.0.7:80");
  EXPECT_FALSE(camera.Apply(nullptr, 3, Request(0, 1280, 720, 33, 50)));
  EXPECT_TRUE(camera.Updates().empty());
  EXPECT_EQ(driver_.Count("credentials are invalid"), 1u);
}

TEST_F(ElmoVideoSettingsManager, SingleStreamCamerasFollowTheRecordingStream) {
  driver_.params = {{1, "0"}, {2, "0"}, {8, "d1,cif"}, {9, "0"}};  // a series without frame-skip table
  SimulatedCameraManager camera(&driver_, DomeParams());
  // A live stream alone leaves the camera as it is.
  EXPECT_TRUE(camera.Apply(nullptr, 3, Request(1, 640, 480, 40, 50)));
  EXPECT_TRUE(camera.Updates().empty());
  // The recording stream needs a frame-skip entry for its rate.
  EXPECT_FALSE(camera.Apply(nullptr, 3, Request(0, 640, 480, 40, 50)));
  EXPECT_EQ(driver_.Count("norvale::CElmoVideoSettingsManager::GenerateRequestUri_forSingleStreamMode: Unable to "
                          "calculate frame-skip value for 25 fps option for device 10.0.0.7:80"),
            1u);
  EXPECT_TRUE(camera.Updates().empty());
}

TEST_F(ElmoVideoSettingsManager, MultiStreamCamerasGetOneResolutionSetWithinTheDatabasesLimits) {
  MultiStream();
  WriteFile("Zephrin.dat", R"(<?xml version="1.0"?>
<Database><Resolutions>
  <SingleStream><Recording resolution="1080p" maxfps="25"/></SingleStream>
  <DualStreaming>
    <Recording resolution="1080p" maxfps="25"><Live resolution="vga" maxfps="15"/><Live resolution="qvga" maxfps="25"/></Recording>
    <Recording resolution="720p" maxfps="25"><Live resolution="d1" maxfps="25"/></Recording>
  </DualStreaming>
</Resolutions></Database>)");
  SimulatedCameraManager camera(&driver_, MultiStreamParams());
  camera.SetDatabaseDirectory(dir_.string());
  EXPECT_TRUE(camera.Apply(nullptr, 3, Request(0, 1920, 1080, 40, 100)));
  // Recording alone: the set keeps only the recording stream.
  ASSERT_EQ(camera.Updates().size(), 1u);
  EXPECT_EQ(
      camera.Updates()[0],
      "&Image.I0.Appearance.Resolution=disable,1080p,disable,disable,disable&Image.I0.Appearance.H264Bitrate=8192");

  // A live stream at 640x480: VGA beside 1080p, whose rate the database limits to 15 fps.
  EXPECT_TRUE(camera.Apply(nullptr, 3, Request(1, 640, 480, 40, 1)));
  ASSERT_EQ(camera.Updates().size(), 2u);
  EXPECT_EQ(camera.Updates()[1],
            "&Image.I0.Appearance.Resolution=disable,1080p,vga,disable,disable&Framerate.H264_2=15"
            "&Image.I0.Appearance.H264_2VideoKeyFrameInterval=14&Image.I0.Appearance.H264_2Bitrate=64");

  // A JPEG stream on the live kind moves JPEG's entry to the front of the set.
  EXPECT_TRUE(camera.Apply(nullptr, 1, Request(1, 320, 240, 40, 100)));
  EXPECT_EQ(camera.Param("Image.I0.Appearance.Resolution"), "qvga,1080p,disable,disable,disable");
}

// Two streams whose requests land in one parameter group (one encoder) of the camera.
struct SharedGroup {
  const char* group;
  int32_t codec;
  ChannelSettings recording, other;
};
class SharedParameterGroup : public ElmoVideoSettingsManager, public ::testing::WithParamInterface<SharedGroup> {};

TEST_P(SharedParameterGroup, TheRecordingStreamSetsTheGroupAndTheCameraSettles) {
  const SharedGroup& c = GetParam();
  MultiStream();
  driver_.params[7] = "1";  // a small H.264 recording stream goes to the second H.264 encoder
  WriteFile("Zephrin.dat", R"(<Database><Resolutions><SingleStream><Recording resolution="vga"/></SingleStream>
<DualStreaming><Recording resolution="vga"><Live resolution="vga"/></Recording></DualStreaming></Resolutions></Database>)");
  SimulatedCameraManager camera(&driver_, MultiStreamParams());
  camera.SetDatabaseDirectory(dir_.string());
  ASSERT_TRUE(camera.Apply(nullptr, c.codec, c.recording));
  std::map<std::string, std::string> alone;  // the group's parameters as the recording stream set them
  for (const auto& [name, value] : MultiStreamParams())
    if (name.find(c.group) != std::string::npos) alone[name] = camera.Param(name);

  // The other stream of the group joins and asks for other values: the recording's stay.
  ASSERT_TRUE(camera.Apply(nullptr, c.codec, c.other));
  for (const auto& [name, value] : alone) EXPECT_EQ(camera.Param(name), value) << name;
  // The camera has settled: later rounds write nothing, and the choice was told once.
  const size_t updates = camera.Updates().size();
  EXPECT_TRUE(camera.Apply(nullptr, c.codec, c.other));
  EXPECT_TRUE(camera.Apply(nullptr, c.codec, c.recording));
  EXPECT_EQ(camera.Updates().size(), updates);
  EXPECT_EQ(driver_.Count(std::string("share the ") + c.group), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ElmoVideoSettingsManager, SharedParameterGroup,
    ::testing::Values(SharedGroup{"Mjpeg", 1, Request(0, 640, 480, 1000, 100), Request(2, 640, 480, 500, 1)},
                      SharedGroup{"H264_2", 3, Request(0, 640, 480, 1000, 100), Request(1, 640, 480, 200, 1)}),
    [](const auto& info) { return std::string(info.param.group); });

TEST_F(ElmoVideoSettingsManager, WithoutTheDatabaseAMultiStreamCameraIsSetLikeASingleStreamOne) {
  MultiStream();
  SimulatedCameraManager camera(&driver_, MultiStreamParams());
  camera.SetDatabaseDirectory(dir_.string());  // no Zephrin.dat there
  EXPECT_TRUE(camera.Apply(nullptr, 3, Request(0, 1920, 1080, 100, 100)));
  EXPECT_EQ(driver_.Count("Unable to open database file for handling resolution set setting for device 10.0.0.7:80"),
            1u);
  ASSERT_EQ(camera.Updates().size(), 1u);
  EXPECT_EQ(camera.Updates()[0],
            "&Image.I0.Appearance.H264Bitrate=8192&Image.I0.Appearance.Resolution=disable,1080p,disable,disable,disable"
            "&Framerate.H264=10&Image.I0.Appearance.H264VideoKeyFrameInterval=9");
}

TEST_F(ElmoVideoSettingsManager, TheDeviceConfigurationIsReadOnceAfterEachReset) {
  MultiStream();
  WriteFile("Zephrin.xml",
            "<Configuration><Default><AllowDualStreaming>Yes</AllowDualStreaming></Default></Configuration>");
  SimulatedCameraManager camera(&driver_, MultiStreamParams());
  camera.SetDatabaseDirectory(dir_.string());
  EXPECT_EQ(camera.DeviceConfiguration().allowDualStreaming, 0);  // nothing read before the first round
  camera.Apply(nullptr, 3, Request(0, 1920, 1080, 40, 100));
  EXPECT_EQ(camera.DeviceConfiguration().allowDualStreaming, 1);

  WriteFile("Zephrin.xml",
            "<Configuration><Default><AllowDualStreaming>No</AllowDualStreaming></Default></Configuration>");
  camera.Apply(nullptr, 3, Request(0, 1920, 1080, 40, 100));
  EXPECT_EQ(camera.DeviceConfiguration().allowDualStreaming, 1);  // still the first reading
  camera.Reset(true);
  camera.Apply(nullptr, 3, Request(0, 1920, 1080, 40, 100));
  EXPECT_EQ(camera.DeviceConfiguration().allowDualStreaming, 0);
}

}  // namespace
