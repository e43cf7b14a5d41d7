// The driver object as the rest of the driver sees it: the device description and host parameters
// read back through IDriver, and log lines formed, filtered and delivered to the host's sink.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/CWendrickDriver.h"
#include "platform/Platform.h"
#include "support/HostCoreVersion.h"
#include "support/HostObjects.h"

namespace {

using norvale::CWendrickDriver;
using norvale::ParamNotSet;
using zephrin::test::RecordingLogSink;
using zephrin::test::TestDeviceSource;
using zephrin::test::TestFrameAllocator;

class DriverObject : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* version = std::getenv("STAVRIK_VERSION");
    savedVersion_ = version ? std::optional<std::string>(version) : std::nullopt;
    device_.SetParam(1, "0");
  }
  void TearDown() override {
    if (savedVersion_)
      zephrin::test::SetHostCoreVersion(savedVersion_->c_str());
    else
      zephrin::test::SetHostCoreVersion(nullptr);
  }

  std::unique_ptr<CWendrickDriver> OpenedDriver() {
    auto driver = std::make_unique<CWendrickDriver>();
    EXPECT_TRUE(driver->Open(&log_, &allocator_, &device_));
    return driver;
  }

  RecordingLogSink log_;
  TestFrameAllocator allocator_;
  TestDeviceSource device_;
  std::optional<std::string> savedVersion_;
};

TEST_F(DriverObject, DeviceDescriptionIsReadBackThroughIDriver) {
  device_.connection.address = "cam.example";
  device_.connection.port = 65535;
  device_.connection.user = "operator";
  device_.connection.password = "s3cret";
  device_.connection.defaultCodec = 1;
  device_.camera.model = "PTZ-1";
  device_.camera.cameraCount = 4;
  device_.camera.value1 = 2;
  device_.camera.value2 = -1;
  device_.SetParam(1, "1");
  auto driver = OpenedDriver();

  EXPECT_EQ(driver->GetDeviceName(), "cam.example:65535");
  EXPECT_EQ(driver->GetDriverName(), "Zephrin");
  const norvale::DEVICE_INFO* info = driver->GetDeviceInfo();
  EXPECT_EQ(info->address, "cam.example");
  EXPECT_EQ(info->port, 65535);
  EXPECT_EQ(info->user, "operator");
  EXPECT_EQ(info->password, "s3cret");
  EXPECT_EQ(info->model, "PTZ-1");
  EXPECT_EQ(info->networkTimeout, 5000);
  EXPECT_EQ(info->streamTimeout, 10000);  // 15000 until the driver is opened
  EXPECT_EQ(driver->GetCameraValues(), std::make_pair(2, -1));
  EXPECT_EQ(driver->GetCameraCount(), 4);
  EXPECT_EQ(driver->GetDefaultCodec(), 1);
  EXPECT_EQ(driver->GetVideoStandard(), 1);
  EXPECT_NE(driver->GetFrameAllocator(), nullptr);  // the host's, through the driver's gate
}

TEST_F(DriverObject, FreshDriverHasDefaultTimeOutsAndNoDevice) {
  CWendrickDriver driver;
  EXPECT_EQ(driver.GetDeviceInfo()->networkTimeout, 5000);
  EXPECT_EQ(driver.GetDeviceInfo()->streamTimeout, 15000);
  EXPECT_EQ(driver.GetDeviceName(), ":0");
  EXPECT_EQ(driver.GetFrameAllocator(), nullptr);
  EXPECT_EQ(driver.GetIntParam(1), ParamNotSet);
  driver.Log(norvale::LogError, "no sink yet");  // dropped without a sink
}

TEST_F(DriverObject, HostDirectoryIsTheExecutablesDirectoryWithSeparator) {
  std::string expected = norvale::platform::ExecutablePath(4096);
  ASSERT_FALSE(expected.empty());
  expected.erase(expected.rfind(norvale::platform::kPathSeparator) + 1);
  CWendrickDriver driver;
  EXPECT_EQ(driver.GetHostDirectory(), expected);
}

TEST_F(DriverObject, IntegerParametersAcceptOnlySignedDecimals) {
  device_.SetParam(2, "-7");
  device_.SetParam(3, "12ab");
  device_.SetParam(4, "");
  device_.SetParam(5, "+");
  device_.SetParam(6, "+42");
  device_.SetParam(7, "abc");
  device_.SetParam(8, " 5");
  device_.SetParam(9, "(none)");
  auto driver = OpenedDriver();
  EXPECT_EQ(driver->GetIntParam(1), 0);
  EXPECT_EQ(driver->GetIntParam(2), -7);
  EXPECT_EQ(driver->GetIntParam(3), ParamNotSet);
  EXPECT_EQ(driver->GetIntParam(4), ParamNotSet);
  EXPECT_EQ(driver->GetIntParam(5), ParamNotSet);
  EXPECT_EQ(driver->GetIntParam(6), 42);
  EXPECT_EQ(driver->GetIntParam(7), ParamNotSet);
  EXPECT_EQ(driver->GetIntParam(8), ParamNotSet);
  EXPECT_EQ(driver->GetIntParam(9), ParamNotSet);
  EXPECT_EQ(driver->GetIntParam(10), ParamNotSet);  // absent
}

TEST_F(DriverObject, TextParametersTreatNoneAsEmpty) {
  device_.SetParam(5, "Pan=1;Tilt=1");
  device_.SetParam(6, "(none)");
  device_.SetParam(7, "(None)");
  auto driver = OpenedDriver();
  EXPECT_EQ(driver->GetStringParam(5), "Pan=1;Tilt=1");
  EXPECT_EQ(driver->GetStringParam(6), "");
  EXPECT_EQ(driver->GetStringParam(7), "(None)");  // only the exact marker means empty
  EXPECT_EQ(driver->GetStringParam(2), "");        // filled gap
  EXPECT_EQ(driver->GetStringParam(99), "");       // absent
}

TEST_F(DriverObject, ParameterListEndsAtTheFirstNullAndIsBoundedForAFaultySource) {
  device_.SetParam(3, "x");
  auto driver = OpenedDriver();
  EXPECT_EQ(device_.ParameterRequests(), 4u);  // 1, 2, 3 and the null after them

  TestDeviceSource endless;
  endless.endlessParams = true;
  CWendrickDriver bounded;
  EXPECT_TRUE(bounded.Open(&log_, &allocator_, &endless));
  EXPECT_EQ(endless.ParameterRequests(), CWendrickDriver::kMaxHostParameters);
}

TEST_F(DriverObject, ReopeningForgetsParametersOfTheEarlierDescription) {
  device_.SetParam(8, "1280x720");
  auto driver = OpenedDriver();
  EXPECT_EQ(driver->GetStringParam(8), "1280x720");
  driver->Close();
  TestDeviceSource second;
  second.SetParam(1, "1");
  ASSERT_TRUE(driver->Open(&log_, &allocator_, &second));
  EXPECT_EQ(driver->GetStringParam(8), "");
  EXPECT_EQ(driver->GetVideoStandard(), 1);
}

TEST_F(DriverObject, DebugLinesNeverReachTheHost) {
  for (const char* version : {"5.11.0.0", "5.12.0.0", "6.3.0.0"}) {
    if (!zephrin::test::SetHostCoreVersion(version))
      GTEST_SKIP() << "the host core version comes from Stavrik.dll's version resource here";
    auto driver = OpenedDriver();
    log_.Clear();
    driver->Log(norvale::LogDebug, "%s: debug detail", "norvale::X::Y");
    driver->Log(norvale::LogError, "%s: an error", "norvale::X::Y");
    const auto records = log_.Records();
    ASSERT_EQ(records.size(), 1u) << version;
    EXPECT_EQ(records[0].text, "norvale::X::Y: an error");
  }
}

TEST_F(DriverObject, LevelsAreMappedForOlderHosts) {
  struct Case {
    const char* version;
    int info, notice, warning, error;
  };
  const Case cases[] = {
      {"5.11.9.9", 2, 2, 2, 1}, {"4.0.0.0", 2, 2, 2, 1},   {"5.12.0.0", 3, 3, 2, 1},
      {"6.2.0.0", 3, 3, 2, 1},  {"6.3.0.0", 3, 100, 2, 1}, {"10.0.0.0", 3, 100, 2, 1},
  };
  for (const Case& c : cases) {
    if (!zephrin::test::SetHostCoreVersion(c.version))
      GTEST_SKIP() << "the host core version comes from Stavrik.dll's version resource here";
    CWendrickDriver driver;
    ASSERT_TRUE(driver.Open(&log_, &allocator_, &device_));
    log_.Clear();
    driver.Log(norvale::LogInfo, "info");
    driver.Log(norvale::LogDriverOpened, "notice");
    driver.Log(norvale::LogWarning, "warning");
    driver.Log(norvale::LogError, "error");
    EXPECT_EQ(log_.LevelOf("info"), c.info) << c.version;
    EXPECT_EQ(log_.LevelOf("notice"), c.notice) << c.version;
    EXPECT_EQ(log_.LevelOf("warning"), c.warning) << c.version;
    EXPECT_EQ(log_.LevelOf("error"), c.error) << c.version;
  }
}

TEST_F(DriverObject, LogFormatsItsLineAndDropsEmptyOnes) {
  auto driver = OpenedDriver();
  log_.Clear();
  driver->Log(norvale::LogWarning, "%s: device %s:%u lost %d%%", "norvale::C::M", "10.0.0.1", 80u, 5);
  driver->Log(norvale::LogError, "%s", "");
  driver->Log(norvale::LogError, nullptr);
  const auto records = log_.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, norvale::LogWarning);
  EXPECT_EQ(records[0].text, "norvale::C::M: device 10.0.0.1:80 lost 5%");
  EXPECT_FALSE(records[0].nullText);
}

TEST_F(DriverObject, LogAcceptsManyThreadsAtOnce) {
  auto driver = OpenedDriver();
  log_.Clear();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&driver, t] {
      for (int i = 0; i < 200; ++i) driver->Log(norvale::LogError, "thread %d line %d", t, i);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(log_.Size(), 800u);
}

TEST_F(DriverObject, OpeningLineVariants) {
  struct Case {
    const char* model;
    const char* unconverted;
    const char* firmware;
    const char* expected;
  };
  const Case cases[] = {
      {"ELMO PTC-400C", "PTC-400C", "2.1", "(name: Zephrin, device model: ELMO PTC-400C, FW: 2.1, address: "},
      {"ELMO PTZ Dome", "PTC-400C", "2.1",
       "(name: Zephrin, device model: ELMO PTZ Dome (PTC-400C), FW: 2.1, address: "},
      {"ELMO PTZ Dome", "(none)", "", "(name: Zephrin, device model: ELMO PTZ Dome, address: "},
      {"100% Cam", "", "v%s", "(name: Zephrin, device model: 100% Cam, FW: v%s, address: "},
  };
  for (const Case& c : cases) {
    RecordingLogSink log;
    TestDeviceSource device;
    device.camera.model = c.model;
    device.connection.address = "192.168.0.9";
    device.connection.port = 80;
    device.SetParam(1, "0");
    device.SetParam(3, c.unconverted);
    device.SetParam(4, c.firmware);
    CWendrickDriver driver;
    ASSERT_TRUE(driver.Open(&log, &allocator_, &device));
    const auto records = log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, std::string("DRIVER IS OPENED ") + c.expected + "192.168.0.9:80)");
  }
}

TEST_F(DriverObject, NoOpeningLineWithoutAModel) {
  device_.camera.model = "";
  auto driver = OpenedDriver();
  EXPECT_EQ(log_.Size(), 0u);
  device_.camera.nullModel = true;
  CWendrickDriver second;
  EXPECT_TRUE(second.Open(&log_, &allocator_, &device_));
  EXPECT_EQ(log_.Size(), 0u);
}

TEST_F(DriverObject, ChannelsNeedASink) {
  auto driver = OpenedDriver();
  EXPECT_EQ(driver->CreateChannel(0, nullptr, norvale::ipcapture::CodecH264), nullptr);
  zephrin::test::RecordingFrameSink sink;
  EXPECT_EQ(driver->CreateCompanionChannel(0, &sink), nullptr);
  EXPECT_EQ(driver->CreateChannel(0, &sink, 7), nullptr);  // no such codec
}

}  // namespace
