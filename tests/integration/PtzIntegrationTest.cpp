// Pan-tilt-zoom end to end: the driver loaded through its exports drives zephrin-camsim, and the
// simulator's request log shows exactly what reached the camera.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "PtzSimulatedCamera.h"
#include "platform/Platform.h"
#include "platform/XmlDocument.h"
#include "support/TempDir.h"

namespace zephrin::ptztest {
namespace {

using namespace norvale::ipcapture;
using Requests = std::vector<std::string>;

const char* const kDome = "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=0; Center=0; Unzoom=1; AreaZoom=0; Preset=16";
const std::string kPtz = "/cgi-bin/com/ptz.cgi?";
const std::string kConfig = "/cgi-bin/com/ptzconfig.cgi?";

class PtzIntegration : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& file : simulatorFiles_) std::remove(test::ChildProcess::LocalPath(file).c_str());
  }
  // A camera on its own loopback address.
  std::unique_ptr<SimulatedCamera> Camera(std::vector<std::string> extra = {}) {
    static std::atomic<int> next{10};
    auto camera = std::make_unique<SimulatedCamera>("127.0.6." + std::to_string(next++), std::move(extra));
    EXPECT_TRUE(camera->Ready()) << "zephrin-camsim did not start";
    return camera;
  }
  std::unique_ptr<HostedDriver> Driver(const SimulatedCamera& camera, const std::string& caps = kDome,
                                       int32_t cameras = 1) {
    auto driver = std::make_unique<HostedDriver>(
        camera, std::vector<std::pair<uint32_t, std::string>>{{5, caps}, {6, PresetFile()}}, cameras);
    EXPECT_TRUE(driver->Opened());
    return driver;
  }
  std::string Dir() const { return dir_.string(); }
  std::string PresetFile() const { return (dir_ / "ELMO_000F7C102030.preset").string(); }
  // A profile file like a bundled one with other PTZ abilities, where the simulator reads it (its
  // path is the simulator's).
  std::string Profile(const std::string& base, const std::string& ptz) {
    std::string text = ReadFile(std::string(ZEPHRIN_SOURCE_DIR) + "/tools/camsim/profiles/" + base + ".json");
    const size_t start = text.find("\"ptz\":");
    const size_t end = text.find('}', start);
    text.replace(start, end + 1 - start, "\"ptz\": " + ptz);
    const std::string path = test::ChildProcess::CreateTempFile(base + "-custom");
    EXPECT_FALSE(path.empty()) << "cannot create the profile file";
    simulatorFiles_.push_back(path);
    std::ofstream(test::ChildProcess::LocalPath(path)) << text;
    return path;
  }

  zephrin::test::TempDir temp_{"zephrin-ptz-it"};
  const std::filesystem::path dir_ = temp_.Path();
  std::vector<std::string> simulatorFiles_;
};

std::string PanTilt(int pan, int tilt) {
  return kPtz + "continuouspantiltmove=" + std::to_string(pan) + "," + std::to_string(tilt);
}

TEST_F(PtzIntegration, DirectionsAndSpeedsReachTheCamera) {
  auto camera = Camera();
  auto driver = Driver(*camera);
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  struct Move {
    int32_t direction, speed;
  };
  const Move moves[] = {{4, 16}, {1, 1}, {0, 0}, {2, -1}, {3, 8}, {5, 16}, {6, 16}, {7, 16}, {8, 8}, {9, 16}};
  for (const Move& m : moves) ASSERT_EQ(PTZ_OK, api->StartMove(m.direction, m.speed));
  const Requests want = {PanTilt(-100, 100),
                         kPtz + "autofocus=on",  // the first focus decision is always sent
                         PanTilt(5, 0),
                         PanTilt(-5, 0),
                         PanTilt(0, 100),
                         PanTilt(0, -49),
                         PanTilt(100, 100),
                         PanTilt(-100, -100),
                         PanTilt(100, -100),
                         kPtz + "continuouszoommove=49",
                         kPtz + "continuouszoommove=-100"};
  EXPECT_EQ(want, camera->WaitRequests(want.size()));
  EXPECT_EQ(PTZ_OK, api->ZoomIn(16));
  EXPECT_EQ(PTZ_OK, api->ZoomOut(1));
  EXPECT_EQ((Requests{kPtz + "continuouszoommove=100", kPtz + "continuouszoommove=-5"}),
            camera->WaitNew(want.size(), 2));
  EXPECT_EQ(PTZ_BadArgument, api->StartMove(10, 5));
}

TEST_F(PtzIntegration, FocusSwitchesAutofocusOffAndAMoveSwitchesItOn) {
  auto camera = Camera();
  auto driver = Driver(*camera);
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  ASSERT_EQ(PTZ_OK, api->StartFocusPositive(8));
  ASSERT_EQ(PTZ_OK, api->StartFocusNegative(16));
  ASSERT_EQ(PTZ_OK, api->StartMove(1, 1));
  ASSERT_EQ(PTZ_OK, api->StartMove(1, 1));
  ASSERT_EQ(PTZ_OK, api->StartFocusNegative(1));
  ASSERT_EQ(PTZ_OK, api->Unzoom(0));
  const Requests want = {kPtz + "autofocus=off", kPtz + "continuousfocusmove=49", kPtz + "continuousfocusmove=-100",
                         PanTilt(5, 0),          kPtz + "autofocus=on",           PanTilt(5, 0),
                         kPtz + "autofocus=off", kPtz + "continuousfocusmove=-5", kPtz + "zoom=0",
                         kPtz + "autofocus=on"};
  EXPECT_EQ(want, camera->WaitRequests(want.size()));
}

TEST_F(PtzIntegration, StopAllStopsWhatWasStarted) {
  auto camera = Camera();
  auto driver = Driver(*camera);
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  ASSERT_EQ(PTZ_OK, api->StopAll());
  ASSERT_EQ(PTZ_OK, api->StartFocusPositive(1));
  ASSERT_EQ(PTZ_OK, api->ZoomIn(1));
  ASSERT_EQ(PTZ_OK, api->StartMove(2, 1));
  // autofocus off, focus, zoom, autofocus on, move
  const size_t before = camera->WaitRequests(5).size();
  ASSERT_EQ(5u, before);
  ASSERT_EQ(PTZ_OK, api->StopAll());
  EXPECT_EQ((Requests{PanTilt(0, 0), kPtz + "continuouszoommove=0", kPtz + "continuousfocusmove=0"}),
            camera->WaitNew(before, 3));
  ASSERT_EQ(PTZ_OK, api->StopAll());
  ASSERT_EQ(PTZ_OK, api->StartMove(3, 1));  // a marker: nothing came before it
  EXPECT_EQ((Requests{PanTilt(0, -5)}), camera->WaitNew(before + 3, 1));
}

TEST_F(PtzIntegration, APanOnlyCameraQueuesMovesButSendsOnlyTheirStop) {
  auto camera = Camera({"--profile", Profile("evision", R"({"pan": true, "presets": true})")});
  auto driver = Driver(*camera, "Pan=1; Tilt=0; Zoom=0; Focus=0; Iris=0; Preset=8");
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  EXPECT_EQ(PTZ_OK, api->StartMove(1, 16));
  EXPECT_EQ(PTZ_NotSupported, api->ZoomIn(16));
  EXPECT_EQ(PTZ_OK, api->StopAll());
  EXPECT_EQ((Requests{PanTilt(0, 0)}), camera->WaitRequests(1));
  EXPECT_EQ(PTZ_OK, api->AddPreset("Marker"));  // a marker: nothing else was sent before it
  EXPECT_EQ((Requests{PanTilt(0, 0), kConfig + "setserverpresetno=1"}), camera->WaitRequests(2));
}

TEST_F(PtzIntegration, CommandsTheCameraFamilyDoesNotExecuteAreLoggedAndNotSent) {
  auto camera = Camera();
  auto driver = Driver(*camera, "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=1; Center=1; Unzoom=1; AreaZoom=1; Preset=4");
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  EXPECT_EQ(PTZ_OK, api->StartIrisPositive(4));
  EXPECT_EQ(PTZ_OK, api->Center(1, 2, 3));
  EXPECT_EQ(PTZ_OK, api->AreaZoom(1, 2, 3, 4));
  EXPECT_EQ(PTZ_OK, api->StopAll());  // the iris stop
  EXPECT_EQ(PTZ_NotSupported, api->StartFocusPositive(1));
  EXPECT_EQ(PTZ_OK, api->Unzoom(7));
  EXPECT_EQ((Requests{kPtz + "zoom=0"}), camera->WaitRequests(1));
  EXPECT_TRUE(driver->log.WaitFor("norvale::CElmoPTZComm::HandleWorkItem: unexpected command ID=3", 5000));
  EXPECT_TRUE(driver->log.Contains("norvale::CElmoPTZComm::HandleWorkItem: unexpected command ID=6"));
  EXPECT_TRUE(driver->log.Contains("norvale::CElmoPTZComm::HandleWorkItem: unexpected command ID=5"));
  EXPECT_TRUE(driver->log.Contains(
      "norvale::CElmoPTZComm::ProcessStopCommand: Unexpected command subtype (Type=4, Subtype=8)"));
  EXPECT_EQ(1, driver->log.LevelOf("unexpected command ID=3"));
  // Without focus the autofocus request is never sent.
  EXPECT_EQ(1u, camera->Requests().size());
}

TEST_F(PtzIntegration, TheSeventeenthWaitingCommandDropsTheOldestWhileTheCameraIsSlow) {
  auto camera = Camera({"--fault", kPtz + "zoom=0 delay=2500 count=1"});
  auto driver = Driver(*camera);
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  ASSERT_EQ(PTZ_OK, api->Unzoom(0));  // the camera takes its time with this one
  // Wait until the worker is inside it, then queue seventeen distinct moves.
  for (int i = 0; i < 100 && camera->Requests().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Requests queued;
  const int kSign[8][2] = {{-1, 0}, {1, 0}, {0, 1}, {0, -1}, {-1, 1}, {1, 1}, {-1, -1}, {1, -1}};
  for (int i = 0; i < 17; ++i) {
    const int direction = i % 8;
    const int32_t speed = i < 8 ? 16 : i < 16 ? 1 : 8;
    const int s = speed == 16 ? 100 : speed == 1 ? 5 : 49;
    ASSERT_EQ(PTZ_OK, api->StartMove(direction, speed));
    queued.push_back(PanTilt(s * kSign[direction][0], s * kSign[direction][1]));
  }
  Requests want = {kPtz + "zoom=0", kPtz + "autofocus=on"};
  want.insert(want.end(), queued.begin() + 1, queued.end());
  EXPECT_EQ(want, camera->WaitRequests(want.size(), 15000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(want.size(), camera->Requests().size()) << "the oldest waiting move was dropped unsent";
}

TEST_F(PtzIntegration, AHangingCameraDelaysOnlyItsOwnChannel) {
  auto camera = Camera({"--fault", kPtz + "continuouszoommove hang=8"});
  auto driver = Driver(*camera, kDome, 2);
  IIPPTZApi* first = driver->Api(0);
  IIPPTZApi* second = driver->Api(1);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  ASSERT_EQ(PTZ_OK, first->ZoomIn(4));
  ASSERT_EQ(PTZ_OK, first->StartMove(0, 4));  // waits behind the hanging zoom
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(PTZ_OK, second->StartMove(1, 4));
  // The hanging zoom (logged unanswered), then channel 2's move and its autofocus switch.
  const Requests requests = camera->WaitRequests(3);
  EXPECT_EQ((Requests{kPtz + "continuouszoommove=24", PanTilt(24, 0), kPtz + "autofocus=on"}), requests)
      << "channel 2 goes ahead while channel 1 waits for its camera";
  driver->Stop();  // does not wait for the hanging camera's answer without end
}

TEST_F(PtzIntegration, PresetsOnTheCameraAndInTheFile) {
  auto camera = Camera();
  auto driver = Driver(*camera);
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  EXPECT_EQ(PTZ_OK, api->AddPreset("Gate"));
  EXPECT_EQ(PTZ_OK, api->AddPreset("Front gate"));      // still there: a rename, nothing sent
  EXPECT_EQ(PTZ_OK, api->GotoPreset(0, "Front gate"));  // current: nothing sent
  ASSERT_EQ(PTZ_OK, api->StartMove(1, 1));
  EXPECT_EQ(PTZ_OK, api->AddPreset("Dock"));
  ASSERT_EQ(PTZ_OK, api->StartMove(0, 1));
  EXPECT_EQ(PTZ_OK, api->AddPreset("Süd-Tor 入口"));
  EXPECT_EQ(PTZ_OK, api->GotoPreset(0, "Front gate"));
  EXPECT_EQ(PTZ_OK, api->RemovePreset("Dock"));
  EXPECT_EQ(PTZ_PresetNotFound, api->RemovePreset("Dock"));
  EXPECT_EQ(PTZ_BadArgument, api->AddPreset("Tom's <gate>"));
  EXPECT_EQ(PTZ_BadArgument, api->AddPreset(""));
  ASSERT_EQ(PTZ_OK, api->StartMove(2, 1));
  EXPECT_EQ(PTZ_OK, api->AddPreset("Yard"));  // takes the freed slot 2, listed last

  const Requests requests = camera->WaitRequests(10);
  const Requests presets = [&] {
    Requests out;
    for (const auto& r : requests)
      if (r.find("preset") != std::string::npos) out.push_back(r);
    return out;
  }();
  EXPECT_EQ(
      (Requests{kConfig + "setserverpresetno=1", kConfig + "setserverpresetno=2", kConfig + "setserverpresetno=3",
                kPtz + "gotoserverpresetno=1", kConfig + "removeserverpresetno=2", kConfig + "setserverpresetno=2"}),
      presets);

  char name[64];
  ASSERT_EQ(3, api->GetPresetCount());
  const char* const order[] = {"Front gate", "Süd-Tor 入口", "Yard"};
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(PTZ_OK, api->GetPresetName(i, name, sizeof name));
    EXPECT_STREQ(order[i], name);
  }
  EXPECT_EQ(PTZ_BadArgument, api->GetPresetName(0, name, 10)) << "\"Front gate\" needs 11 bytes";
  EXPECT_EQ(PTZ_BadArgument, api->GetPresetName(0, nullptr, 64));
  EXPECT_EQ(PTZ_PresetNotFound, api->GetPresetName(3, name, sizeof name));
  ASSERT_EQ(PTZ_OK, api->GetCurrentPresetName(name, sizeof name));
  EXPECT_STREQ("Yard", name);

  // The file: root, channel, renumbered positions, UTF-8.
  EXPECT_EQ(0u, ReadFile(PresetFile()).rfind("<?xml version='1.0' encoding='utf-8'?>", 0));
  norvale::platform::XmlDocument doc;
  ASSERT_TRUE(doc.LoadFile(PresetFile()));
  auto entry = [&](int position, const char* field) {
    const std::string xpath = "/eVision/PtzChannel01/Preposition00" + std::to_string(position) + "/" + field;
    return doc.SelectNode(xpath).Text();
  };
  EXPECT_EQ("Front gate", entry(0, "Name"));
  EXPECT_EQ("0", entry(0, "Slot"));
  EXPECT_EQ("Süd-Tor 入口", entry(1, "Name"));
  EXPECT_EQ("2", entry(1, "Slot"));
  EXPECT_EQ("Yard", entry(2, "Name"));
  EXPECT_EQ("1", entry(2, "Slot"));
  EXPECT_FALSE(doc.SelectNode("/eVision/PtzChannel01/Preposition003"));
  EXPECT_NE(std::string::npos, ReadFile(PresetFile()).find("Süd-Tor 入口")) << "stored as UTF-8, not escaped";
}

TEST_F(PtzIntegration, PresetsSurviveADriverRestart) {
  auto camera = Camera();
  {
    auto driver = Driver(*camera);
    IIPPTZApi* api = driver->Api();
    ASSERT_NE(nullptr, api);
    ASSERT_EQ(PTZ_OK, api->AddPreset("Gate"));
    ASSERT_EQ(PTZ_OK, api->StartMove(1, 16));
    ASSERT_EQ(PTZ_OK, api->AddPreset("Dock"));
  }
  const size_t before = camera->Requests().size();
  auto driver = Driver(*camera);
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  ASSERT_EQ(2, api->GetPresetCount());
  char name[16];
  EXPECT_EQ(PTZ_PresetNotFound, api->GetCurrentPresetName(name, sizeof name)) << "position unknown after a restart";
  EXPECT_EQ(PTZ_OK, api->GotoPreset(0, "Dock"));
  Requests fresh = camera->WaitNew(before, 1);
  if (!fresh.empty() && fresh.front() == kPtz + "autofocus=on") {
    // The first driver abandoned its last autofocus request when it closed; the camera may still log
    // it after the restart. Only the new driver's own requests count here.
    fresh = camera->WaitNew(before + 1, 1);
  }
  EXPECT_EQ((Requests{kPtz + "gotoserverpresetno=2"}), fresh);
}

TEST_F(PtzIntegration, PresetLimitAndCameraRefusals) {
  auto camera = Camera();
  auto driver = Driver(*camera, "Pan=1; Tilt=1; Zoom=1; Focus=1; Preset=2");
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  ASSERT_EQ(PTZ_OK, api->AddPreset("A"));
  ASSERT_EQ(PTZ_OK, api->StartMove(1, 1));
  ASSERT_EQ(PTZ_OK, api->AddPreset("B"));
  ASSERT_EQ(PTZ_OK, api->StartMove(1, 1));
  EXPECT_EQ(PTZ_PresetLimit, api->AddPreset("C"));
  EXPECT_TRUE(
      driver->log.Contains("norvale::CPrepositionList::AddPreposition: A preposition \"C\" cannot be added. "
                           "Camera supports saving not more than 2 prepositions."));
  PTZCapabilityRecord record{};
  ASSERT_EQ(PTZ_OK, api->GetCapabilities(&record));
  EXPECT_EQ(2, record.presetSlots);
  EXPECT_EQ(2, record.presetCount);
  EXPECT_EQ(1, record.focus);
  EXPECT_EQ(0, record.iris);

  ASSERT_EQ(PTZ_OK, api->RemovePreset("B"));
  // The camera answers without "OK": the preset is not added.
  camera.reset();
  camera = Camera({"--fault", kConfig + "setserverpresetno body=Error:busy"});
  driver = Driver(*camera, "Pan=1; Tilt=1; Preset=2");
  api = driver->Api();
  ASSERT_NE(nullptr, api);
  ASSERT_EQ(PTZ_OK, api->StartMove(1, 1));
  EXPECT_EQ(PTZ_Failed, api->AddPreset("B"));
  EXPECT_TRUE(
      driver->log.Contains("norvale::CElmoPTZComm::SendCommand_SetPreposition: Cannot add preposition for device " +
                           camera->DeviceName() + ". Reason: Error:busy"));
  EXPECT_EQ(1, api->GetPresetCount());
  // A go-to the camera refuses (its preset is gone) is "not done".
  EXPECT_EQ(PTZ_PresetNotFound, api->GotoPreset(0, "A"));
}

TEST_F(PtzIntegration, HostFacingSlotsRefuseWhatTheyCannotServe) {
  auto camera = Camera();
  {
    auto driver = Driver(*camera, kDome, 2);
    ASSERT_NE(nullptr, driver->Ptz());
    EXPECT_EQ(nullptr, driver->Api(2)) << "channel equal to the camera count";
    IIPPTZApi* api = driver->Api(1);
    ASSERT_NE(nullptr, api);
    EXPECT_EQ(api, driver->Api(1));
    EXPECT_TRUE(static_cast<IIPPTZApiEx*>(api)->IsVersionSupported(1));
    EXPECT_EQ(PTZ_BadArgument, api->GetCapabilities(nullptr));
    EXPECT_EQ(PTZ_BadArgument, api->GotoPreset(0, nullptr));
    EXPECT_EQ(1, api->HasPTZ());
  }
  // Without a preset file name there is no control.
  HostedDriver driver(*camera, {{5, kDome}});
  ASSERT_TRUE(driver.Opened());
  EXPECT_EQ(nullptr, driver.Api(0));
  EXPECT_TRUE(driver.log.Contains("norvale::CElmoPTZHandler::GetXMLStorageFileName: PTZ handler for camera " +
                                  camera->DeviceName() + " is not created!"));
  EXPECT_TRUE(
      driver.log.Contains("norvale::CBasePTZHandler::InitializeXMLStorage: PTZ module cannot be initialized! "
                          "Name of file for preset storing was not defined"));
}

TEST_F(PtzIntegration, ABarePresetFileNameLivesBesideTheHost) {
  auto camera = Camera();
  const std::string name = "zephrin-ptz-it-" + std::to_string(::getpid()) + ".preset";
  const std::string exe = norvale::platform::ExecutablePath(4096);
  ASSERT_FALSE(exe.empty());
  const std::filesystem::path beside = std::filesystem::path(exe).parent_path() / name;
  {
    HostedDriver driver(*camera, {{5, kDome}, {6, name}});
    IIPPTZApi* api = driver.Api(0);
    ASSERT_NE(nullptr, api);
    EXPECT_EQ(PTZ_OK, api->AddPreset("Gate"));
  }
  EXPECT_NE(std::string::npos, ReadFile(beside.string()).find("<Name>Gate</Name>"));
  std::filesystem::remove(beside);
}

TEST_F(PtzIntegration, AMalformedPresetFileIsKeptAsideAndReplaced) {
  auto camera = Camera();
  std::ofstream(PresetFile()) << "<eVision><PtzChannel01><Preposition000><Name>Ga";
  auto driver = Driver(*camera);
  IIPPTZApi* api = driver->Api();
  ASSERT_NE(nullptr, api);
  EXPECT_EQ(0, api->GetPresetCount());
  EXPECT_EQ("<eVision><PtzChannel01><Preposition000><Name>Ga", ReadFile(PresetFile() + ".bad"));
  EXPECT_TRUE(driver->log.Contains("cannot be read; it was kept as"));
  EXPECT_EQ(PTZ_OK, api->AddPreset("Gate"));
  norvale::platform::XmlDocument doc;
  EXPECT_TRUE(doc.LoadFile(PresetFile()));
}

#ifndef _WIN32
// zephrin-host is a Linux program (it writes its recordings through FFmpeg's libraries).
TEST_F(PtzIntegration, ZephrinHostDrivesTheSimulatedCamera) {
  auto camera = Camera();
  const std::string params = Dir() + "/host.params";
  std::ofstream(params) << "1=0\n5=" << kDome << "\n6=" << PresetFile() << "\n";
  const std::string command = std::string(ZEPHRIN_BIN_DIR) + "/zephrin-host ptz --quiet --settle 300 --address " +
                              camera->Address() + " --port " + std::to_string(camera->Port()) + " --params " + params +
                              " move up-left 16 stop add Gate presets caps iris + 1 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = ::pclose(pipe);
  EXPECT_EQ(1, WEXITSTATUS(status)) << "the iris command is not supported\n" << output;
  EXPECT_NE(std::string::npos, output.find("move up-left speed 16: 1 (success)")) << output;
  EXPECT_NE(std::string::npos, output.find("add \"Gate\": 1 (success)")) << output;
  EXPECT_NE(std::string::npos, output.find("  0: Gate")) << output;
  EXPECT_NE(std::string::npos, output.find("presetslots=16 presets=1")) << output;
  EXPECT_NE(std::string::npos, output.find("iris + speed 1: -19 (not supported by the camera)")) << output;
  EXPECT_EQ((Requests{PanTilt(-100, 100), kPtz + "autofocus=on", PanTilt(0, 0), kConfig + "setserverpresetno=1"}),
            camera->Requests());
}
#endif

}  // namespace
}  // namespace zephrin::ptztest
