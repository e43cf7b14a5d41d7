// The capture driver as the host reaches it: loaded with dlopen, created and deleted through every
// exported name, opened with the host's objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/HostCoreVersion.h"
#include "support/HostLibrary.h"
#include "support/HostObjects.h"

namespace {

using namespace norvale::ipcapture;
using zephrin::test::HostLibrary;
using zephrin::test::RecordingLogSink;
using zephrin::test::TestDeviceSource;
using zephrin::test::TestFrameAllocator;

const char* const kCreateNames[] = {"CreateIPCapture",    "CreateIPCaptureEx",  "CreateIPCaptureEx2",
                                    "CreateIPCaptureEx3", "CreateIPCaptureEx4", "CreateIPCaptureEx5"};
const char* const kDeleteNames[] = {
    "DeleteIPCapture",    "DeleteIPCaptureEx",  "DeleteIPCaptureEx2",         "DeleteIPCaptureEx3",
    "DeleteIPCaptureEx4", "DeleteIPCaptureEx5", "DeleteCapabilityQueryModule"};
const char* const kCapabilityQueryNames[] = {"InitCapabilityQuery", "StartCapabilityQuery", "TerminateCapabilityQuery",
                                             "UninitCapabilityQuery", "CreateCapabilityQueryModule"};

class ZephrinLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* version = std::getenv("STAVRIK_VERSION");
    savedVersion_ = version ? std::optional<std::string>(version) : std::nullopt;
    ASSERT_TRUE(library_.IsLoaded()) << library_.Error();
    create_ = library_.Function<CreateIPCaptureFn>("CreateIPCapture");
    delete_ = library_.Function<DeleteObjectFn>("DeleteIPCapture");
    ASSERT_NE(create_, nullptr);
    ASSERT_NE(delete_, nullptr);
    device_.SetParam(1, "0");
    device_.SetParam(3, "FD4330");
    device_.SetParam(4, "1.2.3");
  }
  void TearDown() override {
    if (savedVersion_)
      zephrin::test::SetHostCoreVersion(savedVersion_->c_str());
    else
      zephrin::test::SetHostCoreVersion(nullptr);
  }

  // A driver created under the given host core version (nullptr: version unreadable).
  IIPCaptureDriverEx5* CreateUnderVersion(const char* version) {
    if (!zephrin::test::SetHostCoreVersion(version)) return nullptr;
    return create_();
  }

  HostLibrary library_{"Zephrin"};
  CreateIPCaptureFn create_ = nullptr;
  DeleteObjectFn delete_ = nullptr;
  RecordingLogSink log_;
  TestFrameAllocator allocator_;
  TestDeviceSource device_;
  std::optional<std::string> savedVersion_;
};

TEST_F(ZephrinLibrary, EveryCreateNameIsOneFunctionAndEveryDeleteNameAnother) {
  for (const char* name : kCreateNames) EXPECT_EQ(library_.Symbol(name), reinterpret_cast<void*>(create_)) << name;
  for (const char* name : kDeleteNames) EXPECT_EQ(library_.Symbol(name), reinterpret_cast<void*>(delete_)) << name;
}

TEST_F(ZephrinLibrary, DriversCreatedAndDeletedThroughEveryNameOpenAndClose) {
  for (const char* createName : kCreateNames) {
    for (const char* deleteName : kDeleteNames) {
      auto create = library_.Function<CreateIPCaptureFn>(createName);
      auto destroy = library_.Function<DeleteObjectFn>(deleteName);
      ASSERT_NE(create, nullptr) << createName;
      ASSERT_NE(destroy, nullptr) << deleteName;
      IIPCaptureDriverEx5* driver = create();
      ASSERT_NE(driver, nullptr) << createName;
      EXPECT_TRUE(driver->Open(&log_, &allocator_, &device_)) << createName;
      driver->Close();
      destroy(driver);
    }
  }
  EXPECT_EQ(log_.Count("DRIVER IS OPENED"), std::size(kCreateNames) * std::size(kDeleteNames));
}

TEST_F(ZephrinLibrary, DeleteWithoutOpenOrWithNullIsHarmless) {
  IIPCaptureDriverEx5* driver = create_();
  ASSERT_NE(driver, nullptr);
  delete_(driver);
  delete_(nullptr);
  EXPECT_EQ(log_.Size(), 0u);
}

TEST_F(ZephrinLibrary, OpenNeedsANumericVideoStandardAndEndsClosedOtherwise) {
  IIPCaptureDriverEx5* driver = create_();
  ASSERT_NE(driver, nullptr);

  TestDeviceSource noStandard;  // no parameters at all
  EXPECT_FALSE(driver->Open(&log_, &allocator_, &noStandard));

  for (const char* bad : {"PAL", "12ab", "", "+", "(none)"}) {
    device_.SetParam(1, bad);
    EXPECT_FALSE(driver->Open(&log_, &allocator_, &device_)) << bad;
    EXPECT_EQ(driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver->GetIOApi(), nullptr);
    EXPECT_EQ(driver->GetPTZDriver(), nullptr);
  }
  EXPECT_FALSE(log_.Contains("DRIVER IS OPENED"));

  // The same driver opens once the host supplies the standard.
  device_.SetParam(1, "1");
  EXPECT_TRUE(driver->Open(&log_, &allocator_, &device_));
  EXPECT_EQ(log_.Count("DRIVER IS OPENED"), 1u);
  driver->Close();
  driver->Close();  // closing twice is harmless
  delete_(driver);
}

TEST_F(ZephrinLibrary, OpenFailsWithoutADeviceDescription) {
  IIPCaptureDriverEx5* driver = create_();
  ASSERT_NE(driver, nullptr);
  EXPECT_FALSE(driver->Open(&log_, &allocator_, nullptr));
  device_.noCamera = true;
  EXPECT_FALSE(driver->Open(&log_, &allocator_, &device_));
  device_.noCamera = false;
  device_.noConnection = true;
  EXPECT_FALSE(driver->Open(&log_, &allocator_, &device_));
  EXPECT_EQ(log_.Size(), 0u);
  delete_(driver);
}

TEST_F(ZephrinLibrary, UnnamedGettersAnswerNullAlsoAfterOpen) {
  IIPCaptureDriverEx5* driver = create_();
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->Reserved5(), nullptr);
  EXPECT_EQ(driver->Reserved7(), nullptr);
  EXPECT_EQ(driver->Reserved10(), nullptr);
  EXPECT_EQ(driver->Reserved11(), nullptr);
  ASSERT_TRUE(driver->Open(&log_, &allocator_, &device_));
  EXPECT_EQ(driver->Reserved5(), nullptr);
  EXPECT_EQ(driver->Reserved7(), nullptr);
  EXPECT_EQ(driver->Reserved10(), nullptr);
  EXPECT_EQ(driver->Reserved11(), nullptr);
  // Every version's video capture getter hands out the same object.
  EXPECT_EQ(static_cast<IIPVideoCapture*>(driver->GetVideoCaptureEx()), driver->GetVideoCapture());
  EXPECT_EQ(static_cast<IIPVideoCapture*>(driver->GetVideoCaptureEx2()), driver->GetVideoCapture());
  EXPECT_EQ(static_cast<IIPPTZDriver*>(driver->GetPTZDriverEx()), driver->GetPTZDriver());
  delete_(driver);
}

// The opening notice is written at level 100; older hosts do not know that level.
TEST_F(ZephrinLibrary, OpeningNoticeIsReleveledForTheHostCoreVersion) {
  struct Case {
    const char* version;
    int level;
  };
  const Case cases[] = {{"5.11.0.0", 2},  {"5.12.0.0", 3}, {"6.2.9.9", 3}, {"6.3.0.0", 100},
                        {"7.0.1.2", 100}, {nullptr, 3},    {"garbage", 3}};
  if (!zephrin::test::SetHostCoreVersion("6.3.0.0"))
    GTEST_SKIP() << "the host core version comes from Stavrik.dll's version resource here";
  for (const Case& c : cases) {
    RecordingLogSink log;
    IIPCaptureDriverEx5* driver = CreateUnderVersion(c.version);
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->Open(&log, &allocator_, &device_));
    EXPECT_EQ(log.LevelOf("DRIVER IS OPENED"), c.level) << (c.version ? c.version : "(unreadable)");
    delete_(driver);
  }
}

TEST_F(ZephrinLibrary, OpeningNoticeNamesDriverModelFirmwareAndAddress) {
  device_.camera.model = "ELMO FD4330";
  device_.connection.address = "10.1.2.3";
  device_.connection.port = 8080;
  IIPCaptureDriverEx5* driver = create_();
  ASSERT_TRUE(driver->Open(&log_, &allocator_, &device_));
  const auto records = log_.Records();
  ASSERT_EQ(records.size(), 1u);
  // The model already holds the unconverted name FD4330, so it is not repeated in brackets.
  EXPECT_EQ(records[0].text,
            "DRIVER IS OPENED (name: Zephrin, device model: ELMO FD4330, FW: 1.2.3, address: 10.1.2.3:8080)");
  delete_(driver);
}

TEST_F(ZephrinLibrary, ExportsExactlyTheCaptureAndCapabilityQueryFamilies) {
#ifdef _WIN32
  GTEST_SKIP() << "a DLL's export table is checked by tests/windows/check_exports.py in this build";
#endif
  std::vector<std::string> names;
  ASSERT_TRUE(HostLibrary::DefinedNames(library_.Path(), &names)) << "nm failed on " << library_.Path();
  std::vector<std::string> expected(std::begin(kCreateNames), std::end(kCreateNames));
  expected.insert(expected.end(), std::begin(kDeleteNames), std::end(kDeleteNames));
  expected.insert(expected.end(), std::begin(kCapabilityQueryNames), std::end(kCapabilityQueryNames));
  ASSERT_EQ(expected.size(), 18u);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
}

}  // namespace
