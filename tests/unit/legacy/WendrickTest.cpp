// The legacy capability-query library as a host configured for the superseded driver uses it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/CapabilityRecorder.h"
#include "support/HostLibrary.h"

namespace {

using namespace norvale::ipcapture;
using zephrin::test::HostLibrary;
using zephrin::test::RecordingCapabilityCallback;
using zephrin::test::RecordingCapabilitySink;

const char kNotice[] = "This driver was replaced with Zephrin module and doesn't supported anymore";

class WendrickLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.IsLoaded()) << library_.Error();
    init_ = library_.Function<InitCapabilityQueryFn>("InitCapabilityQuery");
    start_ = library_.Function<StartCapabilityQueryFn>("StartCapabilityQuery");
    terminate_ = library_.Function<TerminateCapabilityQueryFn>("TerminateCapabilityQuery");
    uninit_ = library_.Function<UninitCapabilityQueryFn>("UninitCapabilityQuery");
    create_ = library_.Function<CreateCapabilityQueryModuleFn>("CreateCapabilityQueryModule");
    delete_ = library_.Function<DeleteObjectFn>("DeleteCapabilityQueryModule");
    ASSERT_TRUE(init_ && start_ && terminate_ && uninit_ && create_ && delete_) << library_.Error();
  }
  void TearDown() override {
    if (uninit_) uninit_();
  }

  HostLibrary library_{"Wendrick"};
  InitCapabilityQueryFn init_ = nullptr;
  StartCapabilityQueryFn start_ = nullptr;
  TerminateCapabilityQueryFn terminate_ = nullptr;
  UninitCapabilityQueryFn uninit_ = nullptr;
  CreateCapabilityQueryModuleFn create_ = nullptr;
  DeleteObjectFn delete_ = nullptr;
  RecordingCapabilityCallback callback_;
  RecordingCapabilitySink sink_;
};

TEST_F(WendrickLibrary, EveryQueryFailsAtOnceWithTheSupersededNotice) {
  ASSERT_EQ(init_(&callback_, 0), 1);
  EXPECT_EQ(start_("192.168.0.10", 80, "admin", "admin", &sink_), 0);
  // Reported before Start returned, on the caller's thread.
  ASSERT_EQ(callback_.Outcomes(), 1u);
  const auto failures = callback_.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].reason, QueryOtherFailure);
  EXPECT_EQ(failures[0].text, kNotice);
  EXPECT_EQ(callback_.CallerThreads()[0], std::this_thread::get_id());
  EXPECT_EQ(callback_.Succeeded(), 0u);
  EXPECT_EQ(callback_.Abandoned(), 0u);
  // Nothing is written into the sink.
  EXPECT_TRUE(sink_.Capabilities().empty());
  EXPECT_FALSE(sink_.ModelName().has_value());

  EXPECT_EQ(terminate_(), 1);
  EXPECT_EQ(uninit_(), 1);
  EXPECT_EQ(callback_.Outcomes(), 1u);
}

TEST_F(WendrickLibrary, MissingArgumentsOrModuleGiveZeroWithoutCallback) {
  EXPECT_EQ(start_("192.168.0.10", 80, "admin", "admin", &sink_), 0);  // not initialised
  ASSERT_EQ(init_(&callback_, 1), 1);
  EXPECT_EQ(start_("192.168.0.10", 80, "admin", nullptr, &sink_), 0);
  EXPECT_EQ(start_("192.168.0.10", 80, nullptr, "admin", &sink_), 0);
  EXPECT_EQ(start_(nullptr, 80, "admin", "admin", &sink_), 0);
  EXPECT_EQ(callback_.Outcomes(), 0u);
}

TEST_F(WendrickLibrary, SecondInitKeepsTheFirstModule) {
  RecordingCapabilityCallback second;
  ASSERT_EQ(init_(&callback_, 0), 1);
  EXPECT_EQ(init_(&second, 0), 0);
  start_("h", 80, "u", "p", &sink_);
  EXPECT_EQ(callback_.Failures().size(), 1u);
  EXPECT_EQ(second.Outcomes(), 0u);
  // After uninitialising, a new module can be made.
  EXPECT_EQ(uninit_(), 1);
  EXPECT_EQ(uninit_(), 1);
  EXPECT_EQ(init_(&second, 0), 1);
  start_("h", 80, "u", "p", &sink_);
  EXPECT_EQ(second.Failures().size(), 1u);
}

TEST_F(WendrickLibrary, TerminateWithoutModuleSucceeds) { EXPECT_EQ(terminate_(), 1); }

TEST_F(WendrickLibrary, HostOwnedModulesAnswerTheSameWay) {
  IIPCapabilityQuery* module = create_(&callback_, 0);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Start("10.0.0.1", 80, "admin", "pw", &sink_), 0);
  EXPECT_EQ(module->Start("10.0.0.1", 80, "admin", "pw", &sink_), 0);
  module->Terminate();
  EXPECT_EQ(callback_.Failures().size(), 2u);
  delete_(module);
  delete_(nullptr);
}

TEST_F(WendrickLibrary, ExportsExactlyTheCapabilityQueryFamily) {
#ifdef _WIN32
  GTEST_SKIP() << "a DLL's export table is checked by tests/windows/check_exports.py in this build";
#endif
  std::vector<std::string> names;
  ASSERT_TRUE(HostLibrary::DefinedNames(library_.Path(), &names)) << "nm failed on " << library_.Path();
  const std::vector<std::string> expected = {"CreateCapabilityQueryModule", "DeleteCapabilityQueryModule",
                                             "InitCapabilityQuery",         "StartCapabilityQuery",
                                             "TerminateCapabilityQuery",    "UninitCapabilityQuery"};
  EXPECT_EQ(names, expected);
}

}  // namespace
