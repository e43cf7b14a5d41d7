// Preset requests of the camera PTZ protocol against a camera that never answers: the host can still
// read the list and close the channel.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "ptz/CBasePTZControl.h"
#include "ptz/CElmoPTZComm.h"
#include "PtzTestFiles.h"
#include "support/FakeDriver.h"
#include "support/ScriptedHttpSender.h"

namespace norvale {
namespace {

using namespace ipcapture;
using test::ScratchDir;
using zephrin::test::ScriptedHttpSender;

constexpr const char* kStore = "/cgi-bin/com/ptzconfig.cgi?setserverpresetno=1";
constexpr const char* kGoto = "/cgi-bin/com/ptz.cgi?gotoserverpresetno=1";
constexpr const char* kRemove = "/cgi-bin/com/ptzconfig.cgi?removeserverpresetno=1";

// A control whose communicator is the camera family's, talking to scripted senders.
class ScriptedControl : public CBasePTZControl {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ScriptedControl);
  ScriptedControl(IDriver* driver, ScriptedHttpSender** presetSender)
      : CBasePTZControl(driver, 0), preset_(presetSender) {}
  ~ScriptedControl() override { Close(); }
  CBasePTZComm* CreateComm() override {
    CPtzCapabilities caps;
    caps.Parse("Pan=1; Tilt=1; Zoom=1; Preset=8");
    auto preset = std::make_unique<ScriptedHttpSender>();
    *preset_ = preset.get();
    return new CElmoPTZComm(Driver(), caps, 0, std::make_unique<ScriptedHttpSender>(), std::move(preset));
  }

 private:
  ScriptedHttpSender** preset_;
};

template <class T>
bool Within(std::future<T>& pending, int seconds) {
  return pending.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
}

TEST(ElmoPresetRequest, SilentCameraHoldsNeitherTheListNorClose) {
  ScratchDir dir;
  zephrin::test::FakeDriver driver;
  driver.hostDirectory = dir.Path().string() + "/";

  for (const char* stuck : {kGoto, kRemove}) {
    TSmartPtr<CXMLPrepositionReader> reader(new CXMLPrepositionReader("eVision"));
    reader->SetBaseDirectory(dir.Path().string());
    ASSERT_TRUE(reader->Init(stuck == kGoto ? "goto.preset" : "remove.preset"));
    ScriptedHttpSender* camera = nullptr;
    ScriptedControl control(&driver, &camera);
    ASSERT_TRUE(control.Open(reader));
    ASSERT_NE(camera, nullptr);
    camera->Set(kStore, 200, "OK");
    ASSERT_EQ(PTZ_OK, control.AddPreset("Gate")) << stuck;
    ASSERT_EQ(PTZ_OK, control.StartMove(0, 1));  // the camera leaves the preset
    camera->Hang(stuck);

    auto request = std::async(std::launch::async, [&] {
      return stuck == kGoto ? control.GotoPreset(0, "Gate") : control.RemovePreset("Gate");
    });
    ASSERT_TRUE(camera->WaitForRequest(stuck, 10000)) << stuck;

    // The host reads the list and moves the camera while the request waits.
    auto reading = std::async(std::launch::async, [&] {
      char name[16];
      return control.GetPresetCount() * 10 + control.GetPresetName(0, name, sizeof name) + control.StopAll();
    });
    const bool readable = Within(reading, 10);
    EXPECT_TRUE(readable) << stuck << ": the list waited for the camera";

    auto closing = std::async(std::launch::async, [&] { control.Close(); });
    const bool closed = Within(closing, 10);
    EXPECT_TRUE(closed) << stuck << ": Close waited for the camera";
    if (!closed) camera->CloseRequest();  // let the test end
    closing.wait();
    if (readable) {
      EXPECT_EQ(reading.get(), 10 + PTZ_OK + PTZ_OK) << stuck;
    }
    // The abandoned request changed nothing: the camera did not go there, the preset is kept.
    const int32_t result = request.get();
    if (stuck == kGoto) {
      EXPECT_EQ(result, PTZ_PresetNotFound);
    }
    EXPECT_EQ(control.GetPresetCount(), 1) << stuck;
    EXPECT_EQ(PTZ_Failed, control.AddPreset("Door")) << stuck << ": a closed control has no camera";
  }
}

}  // namespace
}  // namespace norvale
