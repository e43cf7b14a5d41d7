// Discovering what a camera of the family is from its CGI answers: model and series, standard,
// codecs, streams, frame rates and resolutions, PTZ, I/O, and every way the discovery fails.
#include "discovery/CElmoCameraProperties.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "support/CapabilityRecorder.h"
#include "support/HostCoreVersion.h"
#include "support/ScriptedHttpSender.h"

namespace norvale {
namespace {

using zephrin::test::RecordingCapabilitySink;
using zephrin::test::ScriptedHttpSender;

const std::string kListPath =
    "/cgi-bin/admin/param.cgi?action=list&group=Brand&group=Properties&group=Network.eth0&group=Image.I0.Appearance"
    "&group=ImageSource.I0.Video&group=Frameskip&group=Framerate";
const std::string kIOPath = "/cgi-bin/admin/param.cgi?action=list&group=Input&group=Output";
const std::string kFisheyePath = "/cgi-bin/admin/param.cgi?action=list&group=Fisheye";
const std::string kPtzPath = "/cgi-bin/com/ptz.cgi?info=1";
const std::string kInputProbe = "/cgi-bin/io/input.cgi?check=1";
const std::string kOutputProbe = "/cgi-bin/io/output.cgi?check=1";
const std::string kFullPtz =
    "continuouspantiltmove=yes\r\npan=yes\r\ntilt=yes\r\ncontinuouszoommove=yes\r\nzoom=yes\r\nautofocus=yes\r\n"
    "continuousfocusmove=yes\r\ngotoserverpresetno[1]=yes\r\n";

// The parameter list of a camera, entry by entry.
struct Camera {
  std::string brand = "Dynacolor";
  std::string shortName = "NV1021";
  std::string firmware = "2.1.4";
  std::string detectedType = "PAL";
  std::string formats = "h264,mjpeg";
  std::string configuration = "d1,cif";
  std::string resolutions = "d1,cif,vga";
  std::string mac = "00:1A:2B:3C:4D:5E";
  std::string extra;

  std::string List() const {
    std::string list;
    auto add = [&](const std::string& key, const std::string& value) { list += key + "=" + value + "\r\n"; };
    add("root.Brand.Brand", brand);
    if (!shortName.empty()) add("root.Brand.ProdShortName", shortName);
    add("root.Properties.Firmware.Version", firmware);
    add("root.ImageSource.I0.Video.DetectedType", detectedType);
    add("root.Properties.Image.Format", formats);
    add("root.Image.I0.Appearance.Resolution", configuration);
    add("root.Properties.Image.Resolution", resolutions);
    add("root.Network.eth0.MACAddress", mac);
    return list + extra;
  }
};

class ElmoProperties : public ::testing::Test {
 protected:
  void SetUp() override {
    savedVersion_ = zephrin::test::CurrentHostCoreVersion();
    zephrin::test::SetHostCoreVersion(nullptr);
    device_.address = "127.0.0.9";
    device_.port = 80;
  }
  void TearDown() override { zephrin::test::SetHostCoreVersion(savedVersion_ ? savedVersion_->c_str() : nullptr); }

  // A fresh properties object over the scripted camera.
  CElmoCameraProperties& Make(const Camera& camera) {
    auto sender = std::make_unique<ScriptedHttpSender>(device_);
    sender_ = sender.get();
    sender_->Set(kListPath, 200, camera.List());
    properties_ = std::make_unique<CElmoCameraProperties>(device_, false, std::move(sender));
    return *properties_;
  }
  bool Read(const Camera& camera, int32_t* reason = nullptr) {
    Make(camera);
    int32_t r = 3;
    const bool ok = properties_->ReadProperties(r);
    if (reason) *reason = r;
    return ok;
  }

  DEVICE_INFO device_;
  ScriptedHttpSender* sender_ = nullptr;
  std::unique_ptr<CElmoCameraProperties> properties_;
  std::optional<std::string> savedVersion_;
};

TEST_F(ElmoProperties, TheHostGetsTheWholePresetFileNameWhateverTheBrandHolds) {
  using namespace std::string_literals;
  Camera camera;
  camera.brand = "Zephrin.xml\0\x01/.."s;  // what the host received was once cut at the NUL byte
  Make(camera);
  sender_->Set(kPtzPath, 200, kFullPtz);
  int32_t reason = 0;
  ASSERT_TRUE(properties_->ReadProperties(reason)) << properties_->GetLastErrorText();
  EXPECT_EQ(properties_->PresetFileName(), "Zephrin.xml.._001A2B3C4D5E.preset");
  RecordingCapabilitySink sink;
  ASSERT_TRUE(properties_->ReportProperties(&sink));
  EXPECT_EQ(sink.Properties()[6].value, properties_->PresetFileName());
}

TEST_F(ElmoProperties, ATypicalCameraIsDescribedCompletely) {
  Camera camera;
  Make(camera);
  sender_->Set(kPtzPath, 200, kFullPtz);
  int32_t reason = 0;
  ASSERT_TRUE(properties_->ReadProperties(reason)) << properties_->GetLastErrorText();
  CElmoCameraProperties& p = *properties_;
  EXPECT_EQ(p.brand, "Dynacolor");
  EXPECT_EQ(p.model, "V1");
  EXPECT_EQ(p.NameMapper().GetSeries(), 4u);
  EXPECT_EQ(p.firmware, "2.1.4");
  EXPECT_EQ(p.videoStandard, 0u);
  EXPECT_EQ(p.videoSources, 1u);
  EXPECT_EQ(p.streamCount, 1u);
  EXPECT_EQ(p.streams[0].codecs, (std::set<uint32_t>{1, 3}));
  // Series 4 at PAL: frame skipping from 30 fps gives 25, 5, 2 and 1 fps.
  EXPECT_EQ(p.streams[0].frameRates, (std::set<uint32_t>{1, 2, 5, 25}));
  // The listed names plus 1080p, in name order: 1080p, cif, d1, vga.
  EXPECT_EQ(p.SupportedResolutions(), (std::vector<std::string>{"1080p", "cif", "d1", "vga"}));
  ASSERT_EQ(p.streams[0].resolutions.size(), 4u);
  EXPECT_EQ(p.streams[0].resolutions[0].width, 1920);
  EXPECT_EQ(p.streams[0].resolutions[1].height, 288);
  EXPECT_EQ(p.streams[0].resolutions[2].height, 576);
  EXPECT_EQ(p.streams[0].defaultFrameRate, 25u);
  EXPECT_TRUE(p.ptzSupported);
  EXPECT_EQ(p.PtzAbilities().ToString(),
            "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=0; Center=0; Unzoom=0; AreaZoom=1; Preset=256");
  EXPECT_EQ(p.PresetFileName(), "Dynacolor_001A2B3C4D5E.preset");
  EXPECT_EQ(p.inputCount, 0u);  // no I/O list answer

  RecordingCapabilitySink sink;
  ASSERT_TRUE(p.ReportProperties(&sink));
  EXPECT_EQ(sink.PropertyOrder(), (std::vector<int32_t>{1, 2, 4, 3, 5, 6, 7, 8, 9}));
  auto properties = sink.Properties();
  EXPECT_EQ(properties[1].value, "0");
  EXPECT_EQ(properties[1].isText, 0);
  EXPECT_EQ(properties[2].value, "4");
  EXPECT_EQ(properties[2].name, "Camera Series");
  EXPECT_EQ(properties[3].value, "NV1021");
  EXPECT_EQ(properties[3].name, "Non-Converted Camera Model");
  EXPECT_EQ(properties[4].value, "2.1.4");
  EXPECT_EQ(properties[4].isText, 1);
  EXPECT_EQ(properties[5].name, "Camera PTZ Capabilities");
  EXPECT_EQ(properties[6].value, "Dynacolor_001A2B3C4D5E.preset");
  EXPECT_EQ(properties[7].value, "0");
  EXPECT_EQ(properties[8].value, "1080p,cif,d1,vga");
  EXPECT_EQ(properties[9].value, "0");
  EXPECT_EQ(properties[9].name, "Framerate Option Supported");
  for (const auto& entry : properties) EXPECT_EQ(entry.second.flags, 0);
}

TEST_F(ElmoProperties, RunTogetherAnswersAndNtscInAnyCase) {
  Camera camera;
  camera.detectedType = "Ntsc";
  Make(camera);
  std::string list = camera.List();
  list.erase(std::remove(list.begin(), list.end(), '\r'), list.end());
  list.erase(std::remove(list.begin(), list.end(), '\n'), list.end());
  sender_->Set(kListPath, 200, list);
  int32_t reason = 0;
  ASSERT_TRUE(properties_->ReadProperties(reason)) << properties_->GetLastErrorText();
  EXPECT_EQ(properties_->videoStandard, 1u);
  EXPECT_EQ(properties_->model, "V1");
  EXPECT_EQ(properties_->PresetFileName(), "");  // no PTZ answer: no PTZ
  // NTSC sizes: d1 is 720x480.
  EXPECT_EQ(properties_->streams[0].resolutions[2].height, 480);

  camera.detectedType = "ntsc-m";
  ASSERT_TRUE(Read(camera));
  EXPECT_EQ(properties_->videoStandard, 0u);
}

TEST_F(ElmoProperties, ModelAndCodecFailures) {
  Camera noModel;
  noModel.shortName.clear();
  int32_t reason = 0;
  EXPECT_FALSE(Read(noModel, &reason));
  EXPECT_EQ(reason, 3);
  EXPECT_EQ(properties_->GetLastErrorText(), "Unable to detect device model");

  Camera noCodecs;
  noCodecs.formats = "wmv,H264";
  EXPECT_FALSE(Read(noCodecs, &reason));
  EXPECT_EQ(reason, 3);
  EXPECT_EQ(properties_->GetLastErrorText(), "Unable to read list of supported video codecs");

  Camera oneEntry;
  oneEntry.configuration = "d1";
  EXPECT_FALSE(Read(oneEntry, &reason));
  EXPECT_EQ(properties_->GetLastErrorText(), "Resolution configuration contains unexpected set of resolutions(1)");

  Camera noEntries;
  noEntries.configuration = "";
  EXPECT_FALSE(Read(noEntries, &reason));
  EXPECT_EQ(properties_->GetLastErrorText(), "Unable to read resolution configuration");

  Camera noSizes;
  noSizes.resolutions = "D1,huge";
  noSizes.shortName = "NA0535";  // series 7: adds no names of its own
  noSizes.extra = "root.Framerate.H264=25\r\n";
  EXPECT_FALSE(Read(noSizes, &reason));
  EXPECT_EQ(properties_->GetLastErrorText(), "Unable to read list of the supported resolutions");
}

TEST_F(ElmoProperties, SeriesFromTheConfigurationOrNone) {
  // NV1041 names no series; four configuration entries make it series 5.
  Camera four;
  four.shortName = "NV1041";
  four.formats = "h264,mpeg4,mjpeg";
  four.configuration = "d1,cif,qcif,vga";
  ASSERT_TRUE(Read(four)) << properties_->GetLastErrorText();
  EXPECT_EQ(properties_->NameMapper().GetSeries(), 5u);
  EXPECT_EQ(properties_->model, "1");

  Camera none;
  none.shortName = "NV1041";
  int32_t reason = 0;
  EXPECT_FALSE(Read(none, &reason));
  EXPECT_EQ(reason, 3);
  // Series 0 has no frame-skip table either; the frame rates fail first.
  EXPECT_EQ(properties_->GetLastErrorText(), "Unable to detect supported frame-rates");

  none.extra = "root.Framerate.H264=25\r\n";
  EXPECT_FALSE(Read(none, &reason));
  EXPECT_EQ(properties_->GetLastErrorText(), "Unable to detect device type");
}

TEST_F(ElmoProperties, FiveEntriesGiveThreeStreamsButOnlyOneWithoutANewHostCore) {
  Camera five;
  five.shortName = "NV1041";
  five.configuration = "1080p,720p,d1,disable,disable";
  five.extra = "root.Framerate.H264=30\r\n";
  ASSERT_TRUE(Read(five)) << properties_->GetLastErrorText();
  EXPECT_EQ(properties_->NameMapper().GetSeries(), 7u);
  EXPECT_EQ(properties_->streamCount, 1u);  // no host core version: single stream
  EXPECT_TRUE(properties_->FrameRateOptionSupported());
  EXPECT_EQ(properties_->streams[0].frameRates.size(), 25u);
  EXPECT_EQ(*properties_->streams[0].frameRates.rbegin(), 25u);
}

TEST_F(ElmoProperties, ThreeEntriesWithASecondH264Stream) {
  Camera camera;
  camera.configuration = "720p,720p,disable";
  camera.resolutions = "720p,d1";
  camera.extra = "root.Image.I0.Appearance.H264_2.Resolution=720p\r\n";
  ASSERT_TRUE(Read(camera)) << properties_->GetLastErrorText();
  EXPECT_TRUE(properties_->SecondH264Stream());
  RecordingCapabilitySink sink;
  ASSERT_TRUE(properties_->ReportProperties(&sink));
  EXPECT_EQ(sink.Properties()[7].value, "1");
}

TEST_F(ElmoProperties, HttpFailuresGiveTheirReasons) {
  struct Case {
    uint32_t status;
    int32_t reason;
  } cases[] = {{401, 1}, {0, 2}, {500, 3}, {404, 3}};
  for (const auto& c : cases) {
    Make(Camera());
    sender_->Set(kListPath, c.status, "Unauthorized");
    int32_t reason = -1;
    EXPECT_FALSE(properties_->ReadProperties(reason));
    EXPECT_EQ(reason, c.reason) << c.status;
    EXPECT_EQ(properties_->GetLastErrorText(), "");
  }
  Make(Camera());
  sender_->Set(kListPath, 200, "");
  int32_t reason = -1;
  EXPECT_FALSE(properties_->ReadProperties(reason));
  EXPECT_EQ(reason, 3);
}

TEST_F(ElmoProperties, PtzNeedsAPresetFileAndAMechanicalLens) {
  Camera noMac;
  noMac.mac = "";
  Make(noMac);
  sender_->Set(kPtzPath, 200, kFullPtz);
  int32_t reason = 0;
  ASSERT_TRUE(properties_->ReadProperties(reason));
  EXPECT_FALSE(properties_->ptzSupported);
  EXPECT_EQ(properties_->PresetFileName(), "");
  EXPECT_EQ(properties_->PtzAbilities().ToString(),
            "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0");

  // A series 7 fisheye camera: its PTZ answer describes digital moves only.
  Camera fisheye;
  fisheye.shortName = "NA0535";
  fisheye.resolutions = "5m,1080p";
  fisheye.extra = "root.Framerate.H264=25\r\n";
  Make(fisheye);
  sender_->Set(kPtzPath, 200, kFullPtz);
  sender_->Set(kFisheyePath, 200, "root.Fisheye.F0.ViewMode=1\r\n");
  ASSERT_TRUE(properties_->ReadProperties(reason)) << properties_->GetLastErrorText();
  EXPECT_FALSE(properties_->ptzSupported);
  EXPECT_EQ(properties_->PresetFileName(), "");

  // The same camera without the fisheye group keeps its PTZ; only pan and tilt, no presets.
  Make(fisheye);
  sender_->Set(kPtzPath, 200, "continuouspantiltmove=1\r\npan=1\r\ntilt=1\r\n");
  ASSERT_TRUE(properties_->ReadProperties(reason));
  EXPECT_TRUE(properties_->ptzSupported);
  EXPECT_EQ(properties_->PtzAbilities().presetCount, 0);
  EXPECT_EQ(properties_->PresetFileName(), "Dynacolor_001A2B3C4D5E.preset");
  auto requests = sender_->Requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), kFisheyePath), requests.end());
}

TEST_F(ElmoProperties, IOCountsNeedAConfirmingProbe) {
  Make(Camera());
  sender_->Set(kIOPath, 200, "root.Input.NbrOfInputs=2\r\nroot.Output.NbrOfOutputs=2\r\n");
  sender_->Set(kInputProbe, 200, "Input1=0");
  sender_->Set(kOutputProbe, 200, "Output1: Error, not supported");
  int32_t reason = 0;
  ASSERT_TRUE(properties_->ReadProperties(reason));
  EXPECT_EQ(properties_->inputCount, 2u);
  EXPECT_EQ(properties_->outputCount, 0u);

  Make(Camera());
  sender_->Set(kIOPath, 200, "root.Input.NbrOfInputs=1x\r\nroot.Output.NbrOfOutputs=3\r\n");
  sender_->Set(kInputProbe, 200, "Input1=0");
  sender_->Set(kOutputProbe, 404, "Output1=0");
  ASSERT_TRUE(properties_->ReadProperties(reason));
  EXPECT_EQ(properties_->inputCount, 0u);
  EXPECT_EQ(properties_->outputCount, 0u);
  auto requests = sender_->Requests();
  EXPECT_EQ(std::find(requests.begin(), requests.end(), kInputProbe), requests.end());
}

TEST_F(ElmoProperties, StoppingAbandonsABlockedDiscovery) {
  Make(Camera());
  sender_->Hang(kListPath);
  int32_t reason = -1;
  bool ok = true;
  std::thread discovery([&] { ok = properties_->ReadProperties(reason); });
  ASSERT_TRUE(sender_->WaitForRequest(kListPath, 5000));
  properties_->Stop();
  discovery.join();
  EXPECT_FALSE(ok);
  // Once stopped, nothing more is asked.
  EXPECT_FALSE(properties_->ReadProperties(reason));
  EXPECT_EQ(sender_->Requests().size(), 1u);
}

}  // namespace
}  // namespace norvale
