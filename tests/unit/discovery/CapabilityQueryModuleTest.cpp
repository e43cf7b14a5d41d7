// The capability query as the host sees it: what reaches the sink, in which order and format, which
// outcome reaches the callback, and how a query is started, stopped and destroyed.
#include "discovery/CCapabilityQueryModule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "support/CapabilityRecorder.h"
#include "support/HostLock.h"
#include "support/WaitUntil.h"
#include "unit/discovery/EventLogSink.h"

namespace norvale {
namespace {

using zephrin::test::EventLogSink;
using zephrin::test::RecordingCapabilityCallback;

// A camera whose discovery outcome the test decides.
struct Outcome {
  bool succeed = true;
  int32_t reason = 3;
  std::string error;
  bool waitForStop = false;  // the discovery runs until it is stopped
};

// How many query states (each holds its properties) are not yet freed.
std::atomic<int> gLiveProperties{0};

class ScriptedProperties : public CBaseCameraProperties {
 public:
  ScriptedProperties(const DEVICE_INFO& device, bool ntsc, Outcome outcome)
      : CBaseCameraProperties(device, ntsc), outcome_(std::move(outcome)) {
    ++gLiveProperties;
  }
  ~ScriptedProperties() override { --gLiveProperties; }
  bool ReadProperties(int32_t& reason) override {
    if (outcome_.waitForStop) {
      stopEvent.Wait(60000);
      reason = outcome_.reason;
      return false;
    }
    if (!outcome_.succeed) reason = outcome_.reason;
    return outcome_.succeed;
  }
  std::string GetLastErrorText() override { return outcome_.error; }
  bool ReportProperties(ipcapture::CapabilitySink* sink) override {
    return SetPropertyEntry(sink, 1, "Video standard", std::to_string(videoStandard), false) &&
           SetPropertyEntry(sink, 4, "Firmware Version", firmware, true) &&
           SetPropertyEntry(sink, 0, "Skipped", "x", true) && SetPropertyEntry(sink, 10, "", "x", true);
  }

 private:
  Outcome outcome_;
};

class TestModule : public CCapabilityQueryModule {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestModule);
  using Fill = std::function<void(CBaseCameraProperties&)>;
  TestModule(ipcapture::CapabilityCallback* callback, Outcome outcome, Fill fill)
      : CCapabilityQueryModule(callback, false), outcome_(std::move(outcome)), fill_(std::move(fill)) {}
  ~TestModule() override { Shutdown(); }
  CBaseCameraProperties* CreateProperties() override {
    auto* properties = new ScriptedProperties(Device(), NtscFlag(), outcome_);
    if (fill_) fill_(*properties);
    return properties;
  }

 private:
  Outcome outcome_;
  Fill fill_;
};

// A PAL camera with one stream: two sizes, 1 to 25 fps, H.264 and JPEG.
void TypicalCamera(CBaseCameraProperties& p) {
  p.brand = "Dynacolor";
  p.model = "V1";
  p.firmware = "";
  p.videoSources = 1;
  p.videoStandard = 0;
  p.streams[0].codecs = {1, 3};
  p.streams[0].AddResolution(1920, 1080, 25);
  p.streams[0].AddResolution(640, 480, 0);
  for (uint32_t r = 1; r <= 25; ++r) p.streams[0].frameRates.insert(r);
}

int32_t LastReason(RecordingCapabilityCallback& callback) {
  auto failures = callback.Failures();
  return failures.empty() ? -1 : failures.back().reason;
}
std::string LastText(RecordingCapabilityCallback& callback) {
  auto failures = callback.Failures();
  return failures.empty() ? std::string() : failures.back().text;
}

struct Query {
  RecordingCapabilityCallback callback;
  EventLogSink sink;
  std::unique_ptr<TestModule> module;

  Query(Outcome outcome, TestModule::Fill fill)
      : module(new TestModule(&callback, std::move(outcome), std::move(fill))) {}
  int32_t Start(const char* address = "127.0.0.2", const char* user = "admin", const char* password = "secret") {
    return module->Start(address, 8080, user, password, &sink);
  }
  void RunToEnd() {
    ASSERT_EQ(Start(), 1);
    ASSERT_TRUE(callback.WaitForOutcome(10000));
  }
};

TEST(CapabilityQueryReport, ASuccessfulQueryWritesEverythingInOrder) {
  Query q({}, TypicalCamera);
  q.RunToEnd();
  EXPECT_EQ(q.callback.Succeeded(), 1u);
  EXPECT_EQ(q.callback.Failures().size(), 0u);
  std::vector<std::string> expected = {
      "model Dynacolor V1",
      "connection 1=127.0.0.2",
      "connection 2=8080",
      "connection 3=admin",
      "connection 4=secret",
      "capability 8=1",
      "capability 7=1",
      "capability 0=1",
      "resolution 1920x1080 1920x1080@40",
      "resolution 640x480 640x480@40",
  };
  for (uint32_t r = 1; r <= 25; ++r)
    expected.push_back("frame interval " + std::to_string(1000 / r + (1000 % r * 2 >= r)));
  // No default frame rate: half the highest rate, 12, is offered as default (1000/12 = 83).
  expected.push_back("frame interval default 83");
  for (const char* line : {"capability 11=0", "capability 12=0", "property 1 name=Video standard", "property 1 slot6=0",
                           "property 1 text=0", "property 1 value=0", "property 4 name=Firmware Version",
                           "property 4 slot6=0", "property 4 text=1", "property 4 value=(none)"})
    expected.push_back(line);
  EXPECT_EQ(q.sink.Events(), expected);
  EXPECT_EQ(q.sink.frameRateListKinds, std::vector<int32_t>{1});
}

TEST(CapabilityQueryReport, ModelNameWithoutBrandAndResolutionIntervalFallbacks) {
  Query q({}, [](CBaseCameraProperties& p) {
    TypicalCamera(p);
    p.brand.clear();
    p.streams[0].resolutions.clear();
    p.streams[0].AddResolution(1280, 720, 0);
    p.streams[0].frameRates = {5, 30};
  });
  q.RunToEnd();
  EXPECT_EQ(q.sink.modelName, "V1");
  ASSERT_EQ(q.sink.resolutions.size(), 1u);
  EXPECT_EQ(q.sink.resolutions[0].interval, 33u);  // the stream's highest rate, 30
  EXPECT_EQ(q.sink.frameIntervals, (std::vector<uint32_t>{200, 33}));
  EXPECT_EQ(q.sink.defaultInterval, 33);  // 15 is wanted, 30 is the first rate at or above it
}

TEST(CapabilityQueryReport, DefaultFrameRateIsTheSmallestRateNotBelowIt) {
  Query q({}, [](CBaseCameraProperties& p) {
    TypicalCamera(p);
    p.streams[0].frameRates = {1, 5, 10, 20};
    p.streams[0].defaultFrameRate = 7;
  });
  q.RunToEnd();
  EXPECT_EQ(q.sink.defaultInterval, 100);
}

TEST(CapabilityQueryReport, NumberedCapabilitiesFollowTheRecord) {
  Query q({}, [](CBaseCameraProperties& p) {
    TypicalCamera(p);
    p.streams[0].codecs = {2};
    p.ptzSupported = true;
    p.capabilityFlags[0] = true;
    p.capabilityFlags[2] = true;
    p.inputCount = 2;
    p.outputCount = 1;
    p.genericCapabilityKind = 2;
    p.genericCapabilityValue = 9;
    p.audioInput = {1, true};
  });
  q.RunToEnd();
  const std::map<uint32_t, uint32_t> expected = {{0, 1}, {1, 1},  {2, 2},  {3, 1},  {4, 1},  {5, 1},
                                                 {6, 1}, {11, 0}, {12, 1}, {13, 9}, {15, 1}, {17, 0}};
  EXPECT_EQ(q.sink.capabilities, expected);
  EXPECT_EQ(q.sink.properties[101].value, "Count=1; IsStereo=1");
  EXPECT_EQ(q.sink.properties.count(102), 0u);
}

void ThreeStreams(CBaseCameraProperties& p) {
  TypicalCamera(p);
  p.streamCount = 3;
  p.streams[1].codecs = {1};
  p.streams[1].AddResolution(1280, 720, 0);
  p.streams[1].AddResolution(720, 576, 15);
  p.streams[1].frameRates = {1, 2, 3, 4, 5, 10, 25};
  p.streams[2].codecs = {1, 2, 3};
  p.streams[2].AddResolution(352, 288, 0);
}

TEST(CapabilityQueryStreams, LiveAndRemoteStreamsAreReportedToNewHostCores) {
  Query q({}, [](CBaseCameraProperties& p) {
    ThreeStreams(p);
    p.hostCore61 = true;
  });
  q.RunToEnd();
  EXPECT_EQ(q.sink.capabilities[27], 2u);
  EXPECT_EQ(q.sink.properties[120].value, "h264");
  EXPECT_EQ(q.sink.properties[120].name, "Live Stream: Supported Codecs");
  EXPECT_EQ(q.sink.properties[121].value, "1280x720:40,720x576:67");
  EXPECT_EQ(q.sink.properties[122].value, "values=1000,500,333,250,200,100,40;default=40");  // 12 wanted, 25 next
  EXPECT_EQ(q.sink.properties[122].name, "Live Stream: Supported Framerates");
  EXPECT_EQ(q.sink.properties[124].value, "h264,mpeg,jpeg");
  EXPECT_EQ(q.sink.properties[125].value, "352x288:40");  // a stream without rates
  EXPECT_EQ(q.sink.properties[126].value, "(none)");
  EXPECT_EQ(q.sink.properties[126].name, "Remote Stream: Supported Framerates");
  EXPECT_EQ(q.sink.properties[126].isText, 1);
  // Stream entries come before the camera's own properties.
  EXPECT_EQ(q.sink.propertyOrder, (std::vector<int32_t>{120, 121, 122, 124, 125, 126, 1, 4}));
}

TEST(CapabilityQueryStreams, OlderHostCoresAndTwoStreamCamerasGetLess) {
  Query old({}, ThreeStreams);
  old.RunToEnd();
  EXPECT_EQ(old.sink.capabilities.count(27), 0u);
  EXPECT_EQ(old.sink.propertyOrder, (std::vector<int32_t>{1, 4}));

  Query two({}, [](CBaseCameraProperties& p) {
    ThreeStreams(p);
    p.streamCount = 2;
    p.hostCore61 = true;
  });
  two.RunToEnd();
  EXPECT_EQ(two.sink.capabilities[27], 1u);
  EXPECT_EQ(two.sink.propertyOrder, (std::vector<int32_t>{120, 121, 122, 1, 4}));
}

TEST(CapabilityQueryFailure, ReasonsAndTexts) {
  struct Case {
    int32_t reason;
    std::string detail;
    std::string text;
  } cases[] = {
      {1, "", "Failed to get camera properties, login failed (invalid credentials)"},
      {1, "Unable to detect device model", "Failed to get camera properties: Unable to detect device model"},
      {2, "ignored", "Failed to get camera properties, device is offline or is located in unaccessible subnet"},
      {3, "", "Failed to get camera properties"},
      {3, "Unable to detect device model", "Failed to get camera properties: Unable to detect device model"},
  };
  for (const auto& c : cases) {
    Query q({false, c.reason, c.detail}, nullptr);
    q.RunToEnd();
    EXPECT_EQ(q.callback.Failures().size(), 1u);
    EXPECT_EQ(q.callback.Succeeded(), 0u);
    EXPECT_EQ(LastReason(q.callback), c.reason);
    EXPECT_EQ(LastText(q.callback), c.text);
    EXPECT_TRUE(q.sink.Events().empty());
  }
}

TEST(CapabilityQueryFailure, ResultsThatCannotBeSavedFailWithReasonThree) {
  std::function<void(CBaseCameraProperties&)> broken[] = {
      [](CBaseCameraProperties& p) { TypicalCamera(p), p.model.clear(); },
      [](CBaseCameraProperties& p) { TypicalCamera(p), p.videoSources = 0; },
      [](CBaseCameraProperties& p) { TypicalCamera(p), p.streams[0].codecs.clear(); },
      [](CBaseCameraProperties& p) { TypicalCamera(p), p.streams[0].resolutions.clear(); },
      [](CBaseCameraProperties& p) { TypicalCamera(p), p.streams[0].frameRates.clear(); },
  };
  for (auto& fill : broken) {
    Query q({}, fill);
    q.RunToEnd();
    EXPECT_EQ(LastReason(q.callback), 3);
    EXPECT_EQ(LastText(q.callback), "Failed to save capability query results");
  }
  Query refused({}, TypicalCamera);
  refused.sink.refusePropertyItems = true;
  refused.RunToEnd();
  EXPECT_EQ(LastText(refused.callback), "Failed to save capability query results");
}

TEST(CapabilityQueryAddress, AddressesWithUrlOrCommandCharactersAreRefused) {
  for (const char* bad :
       {"camera:80", "user@camera", "a/b", "a\\b", "x;y", "x,y", "[::1]", "a!",  "a?b", "(a)", "a=b", "a|b",
        "a~b",       "a+b",         "a#b", "a$b",  "a%b", "a^b", "a&b",   "a*b", "{a}", "a'b", "a\"b"}) {
    Query q({}, TypicalCamera);
    ASSERT_EQ(q.Start(bad), 1);
    ASSERT_TRUE(q.callback.WaitForOutcome(10000));
    EXPECT_EQ(LastReason(q.callback), 0) << bad;
    EXPECT_EQ(LastText(q.callback), "Failed to start capability fetching thread. Device address is invalid!");
    EXPECT_TRUE(q.sink.Events().empty());
  }
  for (const char* good : {"127.0.0.1", "camera.example.net", "cam-01_b", "fe80.1"})
    EXPECT_TRUE(CCapabilityQueryModule::IsValidAddress(good)) << good;
}

TEST(CapabilityQueryLifecycle, AModuleRunsOneQueryOnly) {
  Query q({}, TypicalCamera);
  EXPECT_EQ(q.Start(nullptr), 0);
  EXPECT_EQ(q.Start("127.0.0.2", nullptr), 0);
  EXPECT_EQ(q.Start("127.0.0.2", "admin", nullptr), 0);
  q.RunToEnd();
  EXPECT_EQ(q.Start(), 0);  // finished, not restarted
  q.module.reset();
  EXPECT_EQ(q.callback.Succeeded(), 1u);
  EXPECT_EQ(q.callback.Abandoned(), 0u);
}

TEST(CapabilityQueryLifecycle, AQueryWithoutASinkFailsAsAnInternalError) {
  RecordingCapabilityCallback callback;
  TestModule module(&callback, Outcome{}, TypicalCamera);
  ASSERT_EQ(module.Start("127.0.0.2", 80, "admin", "secret", nullptr), 1);
  ASSERT_TRUE(callback.WaitForOutcome(10000));
  EXPECT_EQ(LastReason(callback), 3);
  EXPECT_EQ(LastText(callback), "Failed to start capability fetching thread. Internal error occurs");
}

TEST(CapabilityQueryLifecycle, TerminateEndsAQueryThatThenReportsItsOutcome) {
  Query q({false, 2, "", true}, TypicalCamera);
  ASSERT_EQ(q.Start(), 1);
  q.module->Terminate();
  ASSERT_TRUE(q.callback.WaitForOutcome(10000));
  EXPECT_EQ(LastReason(q.callback), 2);
  q.module.reset();
  EXPECT_EQ(q.callback.Failures().size(), 1u);
  EXPECT_EQ(q.callback.Abandoned(), 0u);
}

TEST(CapabilityQueryLifecycle, DestroyingARunningQueryStopsItWithoutAbandoning) {
  Query q({false, 3, "", true}, TypicalCamera);
  ASSERT_EQ(q.Start(), 1);
  q.module.reset();
  EXPECT_EQ(q.callback.Failures().size(), 1u);
  EXPECT_EQ(q.callback.Abandoned(), 0u);
}

TEST(CapabilityQueryLifecycle, TerminateAndDestroyWithoutAQueryDoNothing) {
  RecordingCapabilityCallback callback;
  auto module = std::make_unique<TestModule>(&callback, Outcome{}, TypicalCamera);
  module->Terminate();
  module.reset();
  EXPECT_EQ(callback.Outcomes(), 0u);
}

// Where the host holds or ends a running query: in its success callback or its first sink write.
enum class HostCall { Success, ModelName };

struct ActingCallback : RecordingCapabilityCallback {
  ZEPHRIN_SLOT0_OVERRIDE(ActingCallback);
  void QuerySucceeded() override { act(), RecordingCapabilityCallback::QuerySucceeded(); }
  std::function<void()> act = [] {};
};

struct ActingSink : EventLogSink {
  ZEPHRIN_SLOT0_OVERRIDE(ActingSink);
  void SetModelName(const char* text) override { EventLogSink::SetModelName(text), act(); }
  std::function<void()> act = [] {};
};

class CapabilityQueryRudeHost : public ::testing::TestWithParam<HostCall> {
 protected:
  void Act(std::function<void()> act) {
    (GetParam() == HostCall::Success ? callback.act : sink.act) = [this, act] { act(), left = true; };
  }
  // Once the query's thread is back from the host: nothing more reached the host's objects.
  void ExpectNothingMoreAfter(size_t events, size_t outcomes, bool threadReturns = true) {
    ASSERT_TRUE(!threadReturns || zephrin::test::WaitUntil([&] { return left.load(); }, 30000));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(sink.Events().size(), events) << "the query wrote into the sink of a module the host ended";
    EXPECT_EQ(callback.Outcomes(), outcomes);
    EXPECT_EQ(callback.Abandoned(), GetParam() == HostCall::ModelName ? 1u : 0u);
  }

  ActingCallback callback;
  ActingSink sink;
  std::unique_ptr<TestModule> module = std::make_unique<TestModule>(&callback, Outcome{}, TypicalCamera);
  std::atomic<bool> left{false};
};

// The host destroys the module on another thread while the query's thread is held inside the host on
// a lock of the host's own (no point where a thread can be terminated): the destruction returns after
// its limit (10 s, and 2 s for the termination), before the host lets go.
TEST_P(CapabilityQueryRudeHost, DestroyingTheModuleWhileTheQueryIsHeldInTheHostReturns) {
  const int live = gLiveProperties;
  zephrin::test::HostLock hostLock;
  std::atomic<bool> entered{false}, destroyed{false};
  Act([&] { entered = true, hostLock.Pass(); });
  hostLock.lock();
  ASSERT_EQ(module->Start("127.0.0.2", 8080, "admin", "secret", &sink), 1);
  ASSERT_TRUE(zephrin::test::WaitUntil([&] { return entered.load(); }));
  std::thread host([&] { module.reset(), destroyed = true; });
  EXPECT_TRUE(zephrin::test::WaitUntil([&] { return destroyed.load(); }, 30000)) << "it waited for the host";
  const size_t events = sink.Events().size();
  hostLock.unlock();
  host.join();
#ifdef _WIN32
  // Windows ends the thread inside the host's call: the success it began is never recorded.
  ExpectNothingMoreAfter(events, GetParam() == HostCall::Success ? 0u : 1u, false);
#else
  ExpectNothingMoreAfter(events, 1u);
#endif
  // Ended by returning or cut off inside the host, the query thread leaves nothing of the query behind.
  EXPECT_TRUE(zephrin::test::WaitUntil([&] { return gLiveProperties == live; })) << "the query's state was never freed";
}

// The host destroys the module from inside the query's own call into it, on the query's thread.
TEST_P(CapabilityQueryRudeHost, DestroyingTheModuleFromInsideTellsOneOutcome) {
  Act([&] { module.reset(); });
  ASSERT_EQ(module->Start("127.0.0.2", 8080, "admin", "secret", &sink), 1);
  ASSERT_TRUE(callback.WaitForOutcome(10000));
  ExpectNothingMoreAfter(GetParam() == HostCall::ModelName ? 1u : sink.Events().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Query, CapabilityQueryRudeHost, ::testing::Values(HostCall::Success, HostCall::ModelName));

}  // namespace
}  // namespace norvale
