// The optional device configuration file: which section applies to a device, and how its values
// are read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Platform.h"
#include "runtime/DeviceConfiguration.h"
#include "support/FakeDriver.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using norvale::CDeviceConfiguration;
using zephrin::test::FakeDriver;

class DeviceConfigurationFile : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_.hostDirectory = directory_.string() + "/";
    driver_.driverName = "Zephrin";
    driver_.deviceInfo.address = "10.0.0.5";
    driver_.deviceInfo.port = 80;
  }

  void Write(const std::string& xml) { std::ofstream(directory_ / "Zephrin.xml") << xml; }

  CDeviceConfiguration Read() {
    CDeviceConfiguration configuration;
    configuration.Read(&driver_);
    return configuration;
  }

  static void ExpectDefaults(const CDeviceConfiguration& c) {
    EXPECT_EQ(c.rtpMode, norvale::RTPoverUDP);
    EXPECT_EQ(c.defaultBrand, "Dynacolor");
    EXPECT_EQ(c.allowDualStreaming, 0);
  }

  zephrin::test::TempDir temp_{"zephrin-config"};
  const fs::path directory_ = temp_.Path();
  FakeDriver driver_;
};

TEST_F(DeviceConfigurationFile, MissingOrBrokenFileGivesDefaults) {
  ExpectDefaults(Read());
  Write("<Configuration><Default><RTPMode>RTPoverTCP</RTPMode>");  // not well-formed
  ExpectDefaults(Read());
  Write("");
  ExpectDefaults(Read());
  Write("<Other><Default><RTPMode>RTPoverTCP</RTPMode></Default></Other>");  // wrong root
  ExpectDefaults(Read());
}

TEST_F(DeviceConfigurationFile, DefaultSectionAppliesToDevicesWithoutTheirOwn) {
  Write(R"(<Configuration>
             <Default>
               <RTPMode>rtpovertcp</RTPMode>
               <AllowDualStreaming>yes</AllowDualStreaming>
               <DefaultBrand>ELMO</DefaultBrand>
             </Default>
           </Configuration>)");
  const CDeviceConfiguration c = Read();
  EXPECT_EQ(c.rtpMode, norvale::RTPoverTCP);
  EXPECT_EQ(c.allowDualStreaming, 1);
  EXPECT_EQ(c.defaultBrand, "ELMO");
}

TEST_F(DeviceConfigurationFile, DeviceSectionMatchesAddressAndPortExactly) {
  Write(R"(<Configuration>
             <Device address="10.0.0.5" port="8080"><RTPMode>RTPoverRTSP</RTPMode></Device>
             <Device address="10.0.0.50" port="80"><RTPMode>RTPoverRTSP</RTPMode></Device>
             <Default><RTPMode>RTPoverTCP</RTPMode></Default>
           </Configuration>)");
  EXPECT_EQ(Read().rtpMode, norvale::RTPoverTCP);  // another port, another address: Default applies
  driver_.deviceInfo.port = 8080;
  EXPECT_EQ(Read().rtpMode, norvale::RTPoverRTSP);
}

TEST_F(DeviceConfigurationFile, DeviceSectionDoesNotInheritFromDefault) {
  Write(R"(<Configuration>
             <Device address="10.0.0.5" port="80"><DefaultBrand>Planet</DefaultBrand></Device>
             <Default>
               <RTPMode>RTPoverRTSP</RTPMode>
               <AllowDualStreaming>Yes</AllowDualStreaming>
             </Default>
           </Configuration>)");
  const CDeviceConfiguration c = Read();
  EXPECT_EQ(c.rtpMode, norvale::RTPoverUDP);
  EXPECT_EQ(c.allowDualStreaming, 0);
  EXPECT_EQ(c.defaultBrand, "Planet");
}

TEST_F(DeviceConfigurationFile, UnknownWordsLeaveTheDefaults) {
  Write(R"(<Configuration><Default>
             <RTPMode>multicast</RTPMode>
             <AllowDualStreaming>true</AllowDualStreaming>
             <DefaultBrand></DefaultBrand>
           </Default></Configuration>)");
  ExpectDefaults(Read());
}

TEST_F(DeviceConfigurationFile, ValuesMayBeLaidOutOnTheirOwnLines) {
  Write(
      "<Configuration><Default>\n<RTPMode>\n  RTPoverTCP\n</RTPMode>\n"
      "<AllowDualStreaming>\tYES </AllowDualStreaming></Default></Configuration>");
  const CDeviceConfiguration c = Read();
  EXPECT_EQ(c.rtpMode, norvale::RTPoverTCP);
  EXPECT_EQ(c.allowDualStreaming, 1);
}

TEST_F(DeviceConfigurationFile, ExplicitUdpInDeviceSection) {
  Write(R"(<Configuration>
             <Device address="10.0.0.5" port="80"><RTPMode>RTPOVERUDP</RTPMode></Device>
             <Default><RTPMode>RTPoverTCP</RTPMode></Default>
           </Configuration>)");
  EXPECT_EQ(Read().rtpMode, norvale::RTPoverUDP);
}

TEST_F(DeviceConfigurationFile, AddressThatCannotBeMatchedFallsBackToDefault) {
  Write(R"(<Configuration>
             <Device address="a" port="80"><RTPMode>RTPoverRTSP</RTPMode></Device>
             <Default><RTPMode>RTPoverTCP</RTPMode></Default>
           </Configuration>)");
  driver_.deviceInfo.address = "a\"] | //Device[@address=\"a";
  EXPECT_EQ(Read().rtpMode, norvale::RTPoverTCP);
}

TEST_F(DeviceConfigurationFile, FileIsNamedAfterTheDriver) {
  Write("<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default></Configuration>");
  driver_.driverName = "Other";
  EXPECT_EQ(Read().rtpMode, norvale::RTPoverUDP);
  driver_.driverName = "";
  EXPECT_EQ(Read().rtpMode, norvale::RTPoverUDP);
  // Without a trailing separator the directory still leads to the file.
  driver_.driverName = "Zephrin";
  driver_.hostDirectory = directory_.string();
  EXPECT_EQ(Read().rtpMode, norvale::RTPoverTCP);
}

TEST(DeviceConfigurationPath, IsBuiltFromDirectoryAndDriverName) {
  const std::string host = std::string("host") + norvale::platform::kPathSeparator;
  EXPECT_EQ(CDeviceConfiguration::FilePath(host, "Zephrin"), host + "Zephrin.xml");
  EXPECT_EQ(CDeviceConfiguration::FilePath("host", "Zephrin"), host + "Zephrin.xml");
  EXPECT_EQ(CDeviceConfiguration::FilePath("", "Zephrin"), "Zephrin.xml");
  EXPECT_EQ(CDeviceConfiguration::FilePath(host, ""), "");
}

}  // namespace
