// The host's PTZ driver and per-channel controls: lazy controls, the shared preset file, the status
// codes of every slot, activity flags and StopAll.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ptz/CBasePTZHandler.h"
#include "PtzTestFiles.h"
#include "runtime/CEvent.h"
#include "support/FakeDriver.h"
#include "support/HostLock.h"
#include "support/WaitUntil.h"

namespace norvale {
namespace {

using namespace ipcapture;
using test::ScratchDir;

// Records commands and preset requests instead of talking to a camera.
class FakeComm : public CBasePTZComm {
 public:
  FakeComm(IDriver* driver, const CPtzCapabilities& caps, uint16_t channel, bool openFails)
      : CBasePTZComm(driver, caps, channel), openFails_(openFails) {}
  ~FakeComm() override { Close(); }
  bool Open() override { return !openFails_ && CBasePTZComm::Open(); }

  bool StorePreposition(uint32_t slot, const std::string&) override { return Note("store", slot); }
  bool GotoPreposition(uint32_t slot, const std::string&, int32_t) override { return Note("goto", slot); }
  bool RemovePreposition(uint32_t slot, const std::string&) override { return Note("remove", slot); }

  // What arrived once count items did (or after waiting for them up to rounds * 20 ms).
  std::vector<std::string> Take(size_t count, int rounds = 250) {
    for (int i = 0; i < rounds && Seen() < count; ++i) event_.Wait(20);
    std::lock_guard<std::mutex> lock(mutex_);
    auto out = std::move(seen_);
    seen_.clear();
    return out;
  }

 protected:
  void HandleWorkItem(CPTZItem* item) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back("cmd " + std::to_string(item->type) + "." + std::to_string(item->subtype) + " dir " +
                      std::to_string(item->extraA) + (item->params ? " params" : ""));
    }
    event_.Set();
  }

 private:
  bool Note(const char* what, uint32_t slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back(std::string(what) + " " + std::to_string(slot));
    return true;
  }
  size_t Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
  }
  bool openFails_;
  std::mutex mutex_;
  std::vector<std::string> seen_;
  CEvent event_;
};

struct CommSetup {
  CPtzCapabilities caps;
  bool openFails = false;
  int created = 0;
};

class FakeControl : public CBasePTZControl {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FakeControl);
  FakeControl(IDriver* driver, uint32_t channel, CommSetup& setup) : CBasePTZControl(driver, channel), setup_(setup) {}
  CBasePTZComm* CreateComm() override {
    ++setup_.created;
    return new FakeComm(Driver(), setup_.caps, static_cast<uint16_t>(GetChannel()), setup_.openFails);
  }
  FakeComm* Camera() { return static_cast<FakeComm*>(Comm()); }

 private:
  CommSetup& setup_;
};

class FakeHandler : public CBasePTZHandler {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FakeHandler);
  FakeHandler(IDriver* driver, uint32_t channels, CommSetup& setup, const std::string& root = "eVision")
      : CBasePTZHandler(driver, channels, root), setup_(setup) {}
  std::string GetXMLStorageFileName() override {
    ++nameRequests;
    if (whileSettingUp) whileSettingUp();
    return fileName;
  }
  std::function<void()> whileSettingUp;  // runs while the first request sets the storage up
  CBasePTZControl* CreateControl(uint32_t channel) override { return new FakeControl(Driver(), channel, setup_); }
  std::string fileName;
  int nameRequests = 0;

 private:
  CommSetup& setup_;
};

CPtzCapabilities FullCaps(int presets = 8) {
  CPtzCapabilities caps;
  caps.Parse("Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Center=1; Unzoom=1; AreaZoom=1; Preset=" +
             std::to_string(presets));
  return caps;
}

class PtzControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup.caps = FullCaps();
    driver.hostDirectory = dir.Path().string() + "/";
    handler = std::make_unique<FakeHandler>(&driver, 2, setup);
    handler->fileName = "cam.preset";
  }
  FakeControl* Control(uint32_t channel = 0) { return static_cast<FakeControl*>(handler->GetPTZApiEx(channel)); }

  ScratchDir dir;
  zephrin::test::FakeDriver driver;
  CommSetup setup;
  std::unique_ptr<FakeHandler> handler;
};

TEST_F(PtzControlTest, ControlsAreCreatedOncePerChannelAndOnlyInRange) {
  FakeControl* first = Control(0);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, Control(0));
  IIPPTZDriver* older = handler.get();
  EXPECT_EQ(static_cast<IIPPTZApi*>(first), older->GetPTZApi(0)) << "the older slot hands out the same control";
  EXPECT_NE(nullptr, Control(1));
  EXPECT_EQ(nullptr, Control(2)) << "channel equal to the channel count";
  EXPECT_EQ(nullptr, Control(0xFFFFFFFFu));
  EXPECT_EQ(2, setup.created);
  EXPECT_EQ(1, handler->nameRequests) << "one reader for all channels";
  EXPECT_EQ(0, first->GetChannel());
  EXPECT_EQ(1, Control(1)->GetChannel());
  EXPECT_TRUE(first->IsVersionSupported(1));
  EXPECT_FALSE(first->IsVersionSupported(2));
  EXPECT_FALSE(first->IsVersionSupported(0));
}

// A request held while it sets a control up (its log line waits in a host's log sink that blocks)
// holds another host thread's request at most the stop limit; that one gets null and changes nothing.
TEST_F(PtzControlTest, ARequestHeldInTheHostHoldsOthersAtMostTheStopLimit) {
  driver.deviceInfo.networkTimeout = 100;  // a stop limit of 200 ms
  zephrin::test::HostLock hostLock;
  std::atomic<bool> held{false}, answered{false};
  handler->whileSettingUp = [&] { held = true, hostLock.Pass(); };
  hostLock.lock();
  std::thread first([&] { EXPECT_NE(nullptr, Control(0)); });
  ASSERT_TRUE(zephrin::test::WaitUntil([&] { return held.load(); }));
  std::thread second([&] {
    EXPECT_EQ(nullptr, Control(1));
    answered = true;
  });
  EXPECT_TRUE(zephrin::test::WaitUntil([&] { return answered.load(); })) << "it waited for the held request";
  EXPECT_EQ(0, setup.created);
  hostLock.unlock();
  first.join(), second.join();
  EXPECT_NE(nullptr, Control(1));
}

TEST_F(PtzControlTest, NoStorageFileNameGivesNoControlAndIsRetried) {
  handler->fileName.clear();
  EXPECT_EQ(nullptr, Control(0));
  EXPECT_TRUE(
      driver.Contains("norvale::CBasePTZHandler::InitializeXMLStorage: PTZ module cannot be initialized! "
                      "Name of file for preset storing was not defined"));
  EXPECT_EQ(0, setup.created);
  handler->fileName = "cam.preset";
  EXPECT_NE(nullptr, Control(0));
  EXPECT_EQ(2, handler->nameRequests);
  EXPECT_TRUE(std::filesystem::exists(dir.File("cam.preset")));
}

TEST_F(PtzControlTest, UnusableStorageFileGivesNullOnceThenControlsWithoutFile) {
  handler->fileName = "missing-dir/cam.preset";
  EXPECT_EQ(nullptr, Control(0));
  EXPECT_TRUE(
      driver.Contains("norvale::CBasePTZHandler::InitializeXMLStorage: cannot initialize "
                      "CXMLPrepositionReader object with parameter \"missing-dir/cam.preset\""));
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  EXPECT_EQ(1, handler->nameRequests) << "the reader is kept";
  EXPECT_EQ(PTZ_Failed, control->AddPreset("Gate")) << "stored on the camera but not in a file";
  EXPECT_EQ(1, control->GetPresetCount());
}

TEST_F(PtzControlTest, AControlWhoseCommunicatorCannotStartIsNotHandedOut) {
  setup.openFails = true;
  EXPECT_EQ(nullptr, Control(0));
  setup.openFails = false;
  EXPECT_NE(nullptr, Control(0));
  EXPECT_EQ(2, setup.created);
}

TEST_F(PtzControlTest, StopAllStopsWhatIsActiveInOrderOnce) {
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  EXPECT_EQ(PTZ_OK, control->StopAll());
  EXPECT_EQ(PTZ_OK, control->StartFocusNegative(3));
  EXPECT_EQ(PTZ_OK, control->ZoomIn(3));
  EXPECT_EQ(PTZ_OK, control->StartIrisPositive(3));
  EXPECT_EQ(PTZ_OK, control->StartMove(5, 3));
  ASSERT_EQ(4u, control->Camera()->Take(4).size());
  EXPECT_EQ(PTZ_OK, control->StopAll());
  EXPECT_EQ((std::vector<std::string>{"cmd 4.5 dir 0 params", "cmd 4.6 dir 0 params", "cmd 4.8 dir 0 params",
                                      "cmd 4.7 dir 0 params"}),
            control->Camera()->Take(4));
  EXPECT_EQ(PTZ_OK, control->StopAll());
  EXPECT_TRUE(control->Camera()->Take(1, 10).empty()) << "nothing left to stop";
}

TEST_F(PtzControlTest, StopsThatCannotBeQueuedStayPending) {
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  ASSERT_EQ(PTZ_OK, control->ZoomOut(1));
  control->Camera()->Take(1);
  control->Camera()->Close();  // the queue refuses from now on
  EXPECT_EQ(PTZ_Failed, control->StopAll());
  ASSERT_TRUE(control->Camera()->Open());
  EXPECT_EQ(PTZ_OK, control->StopAll());
  EXPECT_EQ(std::vector<std::string>{"cmd 4.6 dir 0 params"}, control->Camera()->Take(1));
}

TEST_F(PtzControlTest, MoveArgumentsAndRefusals) {
  setup.caps.Parse("Pan=1; Tilt=1; Zoom=0; Preset=4");
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  EXPECT_EQ(PTZ_BadArgument, control->StartMove(10, 5));
  EXPECT_EQ(PTZ_NotSupported, control->ZoomIn(5));
  EXPECT_EQ(PTZ_NotSupported, control->StartMove(9, 5));
  EXPECT_EQ(PTZ_NotSupported, control->StartFocusPositive(5));
  EXPECT_EQ(PTZ_NotSupported, control->AreaZoom(1, 2, 3, 4));
  EXPECT_EQ(PTZ_OK, control->StopAll()) << "refused commands leave nothing to stop";
  EXPECT_EQ(PTZ_OK, control->StartMove(7, 5));
  EXPECT_EQ(std::vector<std::string>{"cmd 1.0 dir 7 params"}, control->Camera()->Take(1));
  EXPECT_EQ(1, control->HasPTZ());
}

TEST_F(PtzControlTest, AcceptedCommandsLeaveTheCurrentPreset) {
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  char name[32];
  using Command = std::function<int32_t()>;
  const std::vector<std::pair<const char*, Command>> commands = {
      {"move", [&] { return control->StartMove(0, 1); }},
      {"zoom in", [&] { return control->ZoomIn(1); }},
      {"zoom out", [&] { return control->ZoomOut(1); }},
      {"focus", [&] { return control->StartFocusPositive(1); }},
      {"iris", [&] { return control->StartIrisNegative(1); }},
      {"centre", [&] { return control->Center(1, 2, 3); }},
      {"area zoom", [&] { return control->AreaZoom(1, 2, 3, 4); }},
      {"unzoom", [&] { return control->Unzoom(1); }},
  };
  ASSERT_EQ(PTZ_OK, control->AddPreset("Gate"));
  for (const auto& [what, command] : commands) {
    ASSERT_EQ(PTZ_OK, control->GotoPreset(0, "Gate")) << what;
    ASSERT_EQ(PTZ_OK, control->GetCurrentPresetName(name, sizeof name)) << what;
    EXPECT_EQ(PTZ_OK, command()) << what;
    EXPECT_EQ(PTZ_PresetNotFound, control->GetCurrentPresetName(name, sizeof name)) << what;
  }
}

TEST_F(PtzControlTest, PresetSlotsCheckTheirArguments) {
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  ASSERT_EQ(PTZ_OK, control->AddPreset("Gate"));
  char buffer[8];
  EXPECT_EQ(PTZ_BadArgument, control->GetPresetName(0, buffer, 4)) << "exactly the name's length";
  EXPECT_EQ(PTZ_BadArgument, control->GetPresetName(0, nullptr, 8));
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(PTZ_OK, control->GetPresetName(0, buffer, 5));
  EXPECT_STREQ("Gate", buffer);
  EXPECT_EQ('x', buffer[5]) << "nothing written past the terminating zero";
  EXPECT_EQ(PTZ_PresetNotFound, control->GetPresetName(1, buffer, sizeof buffer));
  EXPECT_EQ(PTZ_PresetNotFound, control->GetPresetName(0x80000000u, buffer, sizeof buffer));
  EXPECT_EQ(PTZ_BadArgument, control->GetCurrentPresetName(nullptr, 8));
  EXPECT_EQ(PTZ_BadArgument, control->GotoPreset(0, nullptr));
  EXPECT_EQ(PTZ_BadArgument, control->AddPreset(nullptr));
  EXPECT_EQ(PTZ_BadArgument, control->RemovePreset(nullptr));
  EXPECT_EQ(PTZ_BadArgument, control->AddPreset("Tom's"));
  EXPECT_EQ(PTZ_PresetNotFound, control->GotoPreset(0, "Dock"));
  EXPECT_EQ(PTZ_PresetNotFound, control->RemovePreset("Dock"));
  EXPECT_EQ(PTZ_OK, control->RemovePreset("Gate"));
  EXPECT_EQ(0, control->GetPresetCount());
}

TEST_F(PtzControlTest, CapabilityRecordCarriesTheListsCounts) {
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  ASSERT_EQ(PTZ_OK, control->AddPreset("Gate"));
  EXPECT_EQ(PTZ_BadArgument, control->GetCapabilities(nullptr));
  PTZCapabilityRecord record;
  std::memset(&record, 0x55, sizeof record);
  EXPECT_EQ(PTZ_OK, control->GetCapabilities(&record));
  EXPECT_EQ(0x55555555, record.reserved0);
  EXPECT_EQ(1, record.pan);
  EXPECT_EQ(1, record.iris);
  EXPECT_EQ(8, record.presetSlots);
  EXPECT_EQ(1, record.presetCount);
  EXPECT_EQ(0, record.reserved9);
  EXPECT_EQ(1, record.unzoom);
}

TEST_F(PtzControlTest, AClosedControlAnswersFailedAndForgetsTheCamera) {
  FakeControl* control = Control(0);
  ASSERT_NE(nullptr, control);
  ASSERT_EQ(PTZ_OK, control->AddPreset("Gate"));
  ASSERT_EQ(PTZ_OK, control->StartMove(0, 1));  // away from the preset
  control->Close();
  PTZCapabilityRecord record{};
  EXPECT_EQ(PTZ_Failed, control->HasPTZ());
  EXPECT_EQ(PTZ_Failed, control->StartMove(0, 1));
  EXPECT_EQ(PTZ_Failed, control->StopAll());
  EXPECT_EQ(PTZ_Failed, control->ZoomIn(1));
  EXPECT_EQ(PTZ_Failed, control->Unzoom(1));
  EXPECT_EQ(PTZ_Failed, control->GetCapabilities(&record));
  EXPECT_EQ(PTZ_Failed, control->AddPreset("Dock"));
  EXPECT_EQ(PTZ_PresetNotFound, control->GotoPreset(0, "Gate")) << "no camera to send it to";
}

TEST_F(PtzControlTest, PresetsOfAChannelSurviveANewHandler) {
  ASSERT_EQ(PTZ_OK, Control(1)->AddPreset("Dock"));
  handler = std::make_unique<FakeHandler>(&driver, 2, setup);
  handler->fileName = "cam.preset";
  FakeControl* control = Control(1);
  ASSERT_NE(nullptr, control);
  char name[16];
  ASSERT_EQ(PTZ_OK, control->GetPresetName(0, name, sizeof name));
  EXPECT_STREQ("Dock", name);
  EXPECT_EQ(0, Control(0)->GetPresetCount());
}

}  // namespace
}  // namespace norvale
