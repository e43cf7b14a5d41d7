#include <gtest/gtest.h>

#include "ptz/CPtzCapabilities.h"

using norvale::CPtzCapabilities;

namespace {

CPtzCapabilities Parsed(const std::string& text) {
  CPtzCapabilities caps;
  caps.Parse(text);
  return caps;
}

TEST(PtzCapabilitiesText, NewRecordWritesAllZero) {
  EXPECT_EQ(CPtzCapabilities().ToString(),
            "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0");
}

TEST(PtzCapabilitiesText, FullRecordWritesEveryKeyInOrder) {
  CPtzCapabilities caps;
  caps.pan = caps.tilt = caps.zoom = caps.focus = caps.iris = caps.areaZoom = caps.center = caps.unzoom = true;
  caps.presetCount = 64;
  EXPECT_EQ(caps.ToString(), "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Center=1; Unzoom=1; AreaZoom=1; Preset=64");
}

TEST(PtzCapabilitiesText, DependentAbilitiesNeedTheirBase) {
  CPtzCapabilities caps;
  caps.center = caps.unzoom = caps.areaZoom = true;
  EXPECT_EQ(caps.ToString(), "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0");
  caps.tilt = true;  // tilt alone is enough to centre
  EXPECT_NE(caps.ToString().find("Center=1"), std::string::npos);
  EXPECT_NE(caps.ToString().find("Unzoom=0; AreaZoom=0"), std::string::npos);
  caps.zoom = true;
  EXPECT_NE(caps.ToString().find("Unzoom=1; AreaZoom=1"), std::string::npos);
}

TEST(PtzCapabilitiesText, WrittenTextParsesBackToTheSameRecord) {
  CPtzCapabilities caps;
  caps.pan = caps.zoom = caps.iris = caps.areaZoom = true;
  caps.presetCount = 255;
  const CPtzCapabilities back = Parsed(caps.ToString());
  EXPECT_TRUE(back.pan);
  EXPECT_FALSE(back.tilt);
  EXPECT_TRUE(back.zoom);
  EXPECT_FALSE(back.focus);
  EXPECT_TRUE(back.iris);
  EXPECT_TRUE(back.areaZoom);
  EXPECT_FALSE(back.center);
  EXPECT_FALSE(back.unzoom);
  EXPECT_EQ(back.presetCount, 255);
  EXPECT_EQ(back.ToString(), caps.ToString());
}

TEST(PtzCapabilitiesParse, KeysMatchExactlyAndCaseSensitively) {
  const CPtzCapabilities caps = Parsed("Pan=1; AreaZoom=1");
  EXPECT_TRUE(caps.pan);
  EXPECT_TRUE(caps.areaZoom);
  EXPECT_FALSE(caps.zoom);  // "Zoom" is not "AreaZoom"
  EXPECT_FALSE(Parsed("pan=1").pan);
  EXPECT_FALSE(Parsed("XPan=1").pan);
  EXPECT_FALSE(Parsed("Unzoom=1").zoom);
}

TEST(PtzCapabilitiesParse, OnlyTheValueOneSetsAFlag) {
  EXPECT_FALSE(Parsed("Pan=yes").pan);
  EXPECT_FALSE(Parsed("Pan=true").pan);
  EXPECT_FALSE(Parsed("Pan=01").pan);
  EXPECT_FALSE(Parsed("Pan=2").pan);
  EXPECT_FALSE(Parsed("Pan=1=1").pan);
  EXPECT_TRUE(Parsed("Pan=1").pan);
}

TEST(PtzCapabilitiesParse, AnySeparatorDividesEntries) {
  const CPtzCapabilities caps = Parsed("Pan=1\r\nTilt=1\tZoom=1 Focus=1;Iris=1");
  EXPECT_TRUE(caps.pan && caps.tilt && caps.zoom && caps.focus && caps.iris);
}

TEST(PtzCapabilitiesParse, EmptyValueIsSkippedForALaterEntry) {
  EXPECT_TRUE(Parsed("Pan=; Pan=1").pan);
  EXPECT_EQ(Parsed("Preset=; Preset=8").presetCount, 8);
  EXPECT_FALSE(Parsed("Pan=1").tilt);
}

TEST(PtzCapabilitiesParse, PresetCountReadsLikeTheCLibrary) {
  EXPECT_EQ(Parsed("Pan=1").presetCount, 0);
  EXPECT_EQ(Parsed("Preset=").presetCount, 0);
  EXPECT_EQ(Parsed("Preset=abc").presetCount, 0);
  EXPECT_EQ(Parsed("Preset=12abc").presetCount, 12);
  EXPECT_EQ(Parsed("Preset=+7").presetCount, 7);
  EXPECT_EQ(Parsed("Preset=-3").presetCount, -3);
  EXPECT_EQ(Parsed("Preset=99999999999999999999").presetCount, INT32_MAX);
  EXPECT_EQ(Parsed("Preset=-99999999999999999999").presetCount, INT32_MIN);
}

TEST(PtzCapabilitiesParse, ParsingReplacesThePreviousRecord) {
  CPtzCapabilities caps;
  caps.Parse("Pan=1; Zoom=1; Preset=5");
  caps.Parse("Tilt=1");
  EXPECT_FALSE(caps.pan);
  EXPECT_FALSE(caps.zoom);
  EXPECT_TRUE(caps.tilt);
  EXPECT_EQ(caps.presetCount, 0);
}

TEST(PtzCapabilitiesParse, OddTextLeavesEverythingOff) {
  for (const char* text : {"", ";;;", "=", "=1", "Pan", "Pan==", "; = ; =1", "\xff\xfe=\x01"}) {
    const CPtzCapabilities caps = Parsed(text);
    EXPECT_EQ(caps.ToString(), CPtzCapabilities().ToString()) << text;
  }
}

}  // namespace
