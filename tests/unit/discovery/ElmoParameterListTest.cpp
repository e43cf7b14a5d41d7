// What the camera's parameter list says about the camera: line-break repair, codecs, video standard,
// resolution configuration, PTZ information, preset file name and I/O counts.
#include "discovery/ElmoParameterList.h"

#include <gtest/gtest.h>

namespace norvale::ElmoParameterList {
namespace {

TEST(ParameterListLines, RunTogetherEntriesBecomeSeparateLines) {
  const std::string text = NormaliseLineBreaks("root.Brand.Brand=ELMOroot.Brand.ProdShortName=NV1021\r\nroot.X=1");
  EXPECT_EQ(Value(text, "root.Brand.Brand"), "ELMO");
  EXPECT_EQ(Value(text, "root.Brand.ProdShortName"), "NV1021");
  EXPECT_EQ(Value(text, "root.X"), "1");
  EXPECT_EQ(text, "root.Brand.Brand=ELMO\nroot.Brand.ProdShortName=NV1021\r\nroot.X=1");
}

TEST(ParameterListLines, WellFormedAndDegenerateTextsStayAsTheyAre) {
  const std::string wellFormed = "root.A=1\r\nroot.B=2\r\n";
  EXPECT_EQ(NormaliseLineBreaks(wellFormed), wellFormed);
  // A key at the very start, or one that starts within the first two characters, gets no break.
  EXPECT_EQ(NormaliseLineBreaks("root.A=1"), "root.A=1");
  EXPECT_EQ(NormaliseLineBreaks("xroot.A=1"), "xroot.A=1");
  EXPECT_EQ(NormaliseLineBreaks(""), "");
  EXPECT_EQ(NormaliseLineBreaks("ro"), "ro");
  // Keys that follow one another directly are all split.
  EXPECT_EQ(NormaliseLineBreaks("abroot.root.root."), "ab\nroot.\nroot.\nroot.");
}

TEST(ParameterListLines, AHugeRunTogetherAnswerIsSplitCompletely) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "root.K" + std::to_string(i) + "=" + std::to_string(i);
  const std::string lines = NormaliseLineBreaks(text);
  EXPECT_EQ(Value(lines, "root.K99999"), "99999");
  EXPECT_EQ(Value(lines, "root.K0"), "0");
  EXPECT_EQ(lines.size(), text.size() + 99999);
}

TEST(ParameterListValues, KeysMatchWholeNamesAndListsDropEmptyItems) {
  const std::string text = "root.Brand.Brand=ELMO\r\nxroot.Brand.Brand=1\r\n root.Image.Format = a,,b, \r\n";
  EXPECT_EQ(Value(text, "root.Brand.Brand"), "ELMO");
  EXPECT_EQ(Value(text, "root.Brand"), "");
  EXPECT_EQ(ListValue(text, "root.Image.Format"), (std::vector<std::string>{" a", "b", " "}));
  EXPECT_TRUE(ListValue(text, "root.Missing").empty());
}

TEST(ParameterListCodecs, KnownFormatsMapToCodecNumbers) {
  EXPECT_EQ(ParseCodecs("root.Properties.Image.Format=h264,mjpeg,wmv\r\n"), (std::set<uint32_t>{1, 3}));
  EXPECT_EQ(ParseCodecs("root.Properties.Image.Format=mpeg4,h264,mjpeg,h264\r\n"), (std::set<uint32_t>{1, 2, 3}));
  EXPECT_TRUE(ParseCodecs("root.Properties.Image.Format=H264,MJPEG\r\n").empty());
  EXPECT_TRUE(ParseCodecs("root.Properties.Image.Format=\r\n").empty());
  EXPECT_TRUE(ParseCodecs("").empty());
}

TEST(ParameterListVideoStandard, OnlyExactlyNtscInAnyCaseSelectsNtsc) {
  EXPECT_TRUE(IsNtsc("root.ImageSource.I0.Video.DetectedType=NTSC\r\n"));
  EXPECT_TRUE(IsNtsc("root.ImageSource.I0.Video.DetectedType=ntsc"));
  EXPECT_FALSE(IsNtsc("root.ImageSource.I0.Video.DetectedType=ntsc-j\r\n"));
  EXPECT_FALSE(IsNtsc("root.ImageSource.I0.Video.DetectedType=PAL\r\n"));
  EXPECT_FALSE(IsNtsc(""));
}

std::string Configuration(const std::string& items, const std::string& extra = "") {
  return "root.Image.I0.Appearance.Resolution=" + items + "\r\n" + extra;
}

TEST(ResolutionConfigurationEntries, TwoToFiveEntriesAreAccepted) {
  auto two = ClassifyResolutionConfiguration(Configuration("d1,cif"), 2);
  EXPECT_TRUE(two.accepted);
  EXPECT_EQ(two.streams, 1u);
  EXPECT_EQ(two.seriesIfUnset, 0u);
  EXPECT_FALSE(two.secondH264);

  auto four = ClassifyResolutionConfiguration(Configuration("d1,cif,qcif,vga"), 3);
  EXPECT_TRUE(four.accepted);
  EXPECT_EQ(four.seriesIfUnset, 5u);
  EXPECT_EQ(four.streams, 1u);

  auto five = ClassifyResolutionConfiguration(Configuration("1080p,720p,d1,disable,disable"), 2);
  EXPECT_TRUE(five.accepted);
  EXPECT_EQ(five.streams, 3u);
  EXPECT_EQ(five.seriesIfUnset, 7u);
}

TEST(ResolutionConfigurationEntries, ThreeEntriesAnnounceASecondH264StreamOnlyBeyondTheCodecs) {
  const std::string withSecond = Configuration("720p,720p,disable", "root.Image.I0.Appearance.H264_2.Enabled=yes\r\n");
  EXPECT_TRUE(ClassifyResolutionConfiguration(withSecond, 2).secondH264);
  EXPECT_FALSE(ClassifyResolutionConfiguration(withSecond, 3).secondH264);
  EXPECT_FALSE(ClassifyResolutionConfiguration(Configuration("720p,720p,disable"), 2).secondH264);
  EXPECT_TRUE(ClassifyResolutionConfiguration(withSecond, 3).accepted);
}

TEST(ResolutionConfigurationEntries, FiveEntriesWithAsManyCodecsKeepOneStream) {
  auto five = ClassifyResolutionConfiguration(Configuration("a,b,c,d,e"), 5);
  EXPECT_TRUE(five.accepted);
  EXPECT_EQ(five.streams, 1u);
  EXPECT_EQ(five.seriesIfUnset, 7u);
  EXPECT_EQ(ClassifyResolutionConfiguration(Configuration("a,b,c,d,e"), 3).streams, 3u);
}

TEST(ResolutionConfigurationEntries, OtherCountsFailWithTheirText) {
  auto none = ClassifyResolutionConfiguration("root.Other=1\r\n", 2);
  EXPECT_FALSE(none.accepted);
  EXPECT_EQ(none.error, "Unable to read resolution configuration");

  auto one = ClassifyResolutionConfiguration(Configuration("d1"), 2);
  EXPECT_FALSE(one.accepted);
  EXPECT_EQ(one.error, "Resolution configuration contains unexpected set of resolutions(1)");

  auto six = ClassifyResolutionConfiguration(Configuration("a,b,c,d,e,f"), 2);
  EXPECT_FALSE(six.accepted);
  EXPECT_EQ(six.error, "Resolution configuration contains unexpected set of resolutions(6)");
  // Empty items do not count.
  EXPECT_EQ(ClassifyResolutionConfiguration(Configuration(",d1,,"), 2).error,
            "Resolution configuration contains unexpected set of resolutions(1)");
}

TEST(PresetFile, BrandAndMacWithoutFileNameCharacters) {
  EXPECT_EQ(PresetFileName("Dynacolor", "00:1A:2B:3C:4D:5E"), "Dynacolor_001A2B3C4D5E.preset");
  EXPECT_EQ(PresetFileName("e-Vision", "00-1a-2b-3c-4d-5e"), "eVision_001a2b3c4d5e.preset");
  EXPECT_EQ(PresetFileName("A \\/:*?\"<>!'-B", "1"), "AB_1.preset");
  EXPECT_EQ(PresetFileName("Dynacolor", ""), "");
  EXPECT_EQ(PresetFileName("Dynacolor", ":::-"), "");
  EXPECT_EQ(PresetFileName("", "001A2B"), "");
}

TEST(PresetFile, CameraTextBecomesABarePresetFileName) {
  using namespace std::string_literals;
  // A NUL byte would end the name the host receives: "Zephrin.xml" would name the host's own file.
  EXPECT_EQ(PresetFileName("Zephrin.xml\0\r"s, "00:1A:2B:3C:4D:5E"), "Zephrin.xml_001A2B3C4D5E.preset");
  EXPECT_EQ(PresetFileName("\0Zephrin.xml"s, "00:1A"), "Zephrin.xml_001A.preset");
  EXPECT_EQ(PresetFileName("ELMO\x01\x1b[2J\t\x7f\xc3\xa9", "00:1a\n"), "ELMO2J_001a.preset");
  EXPECT_EQ(PresetFileName("../../etc", "..\\x"), "....etc_..x.preset");
  EXPECT_EQ(PresetFileName("\x01\x02", "001A"), "") << "nothing of the brand is left";
  const std::string longName = PresetFileName(std::string(5000, 'B'), std::string(5000, '1'));
  EXPECT_EQ(longName, std::string(64, 'B') + "_" + std::string(64, '1') + ".preset");
  for (const std::string& name : {PresetFileName("Dynacolor", "001A"), longName})
    EXPECT_TRUE(IsPresetFileName(name)) << name;
}

TEST(PresetFile, WhatCountsAsAPresetFileName) {
  using namespace std::string_literals;
  EXPECT_TRUE(IsPresetFileName("Dynacolor_001A2B3C4D5E.preset"));
  EXPECT_TRUE(IsPresetFileName("e-Vision_1.preset"));
  for (const std::string& name : {""s, ".preset"s, "Zephrin.xml"s, "a.preset.bad"s, "a/b.preset"s, "..\\a.preset"s,
                                  "a b.preset"s, "a:b.preset"s, "a\0.preset"s, "a.PRESET"s})
    EXPECT_FALSE(IsPresetFileName(name)) << name;
}

TEST(IOCounts, OnlyPlausiblePositiveNumbersCount) {
  const std::string text =
      "root.Input.NbrOfInputs=2\r\nroot.Output.NbrOfOutputs=+1\r\nroot.A=-3\r\nroot.B=4x\r\nroot.C=0\r\n"
      "root.D=99999999999\r\nroot.E=257\r\nroot.F=256\r\nroot.G=\r\n";
  EXPECT_EQ(PositiveCount(text, "root.Input.NbrOfInputs"), 2u);
  EXPECT_EQ(PositiveCount(text, "root.Output.NbrOfOutputs"), 1u);
  EXPECT_EQ(PositiveCount(text, "root.A"), 0u);
  EXPECT_EQ(PositiveCount(text, "root.B"), 0u);
  EXPECT_EQ(PositiveCount(text, "root.C"), 0u);
  EXPECT_EQ(PositiveCount(text, "root.D"), 0u);
  EXPECT_EQ(PositiveCount(text, "root.E"), 0u);
  EXPECT_EQ(PositiveCount(text, "root.F"), 256u);
  EXPECT_EQ(PositiveCount(text, "root.G"), 0u);
  EXPECT_EQ(PositiveCount(text, "root.Missing"), 0u);
}

TEST(IOCounts, ProbeAnswersConfirmUnlessTheyReportAnError) {
  EXPECT_TRUE(IsPositiveProbeAnswer("Input1=0"));
  EXPECT_FALSE(IsPositiveProbeAnswer(""));
  EXPECT_FALSE(IsPositiveProbeAnswer("Output1: ERROR"));
  EXPECT_FALSE(IsPositiveProbeAnswer("Some Error occurred"));
  EXPECT_FALSE(IsPositiveProbeAnswer("404 Not Found"));
}

TEST(PtzInformation, AbilitiesFollowTheAnnouncedMoves) {
  const std::string full =
      "continuouspantiltmove=yes\r\npan=yes\r\ntilt=yes\r\ncontinuouszoommove=yes\r\nzoom=yes\r\n"
      "autofocus=yes\r\ncontinuousfocusmove=yes\r\ngotoserverpresetno[1]=yes\r\n";
  auto info = ParsePtzInfo(full);
  EXPECT_TRUE(info.pan);
  EXPECT_TRUE(info.tilt);
  EXPECT_TRUE(info.zoom);
  EXPECT_TRUE(info.areaZoom);
  EXPECT_TRUE(info.focus);
  EXPECT_TRUE(info.presets);

  // Pan and tilt need the continuous move; focus needs zoom moves, autofocus and focus moves.
  auto noMove = ParsePtzInfo("pan=yes\r\ntilt=yes\r\ncontinuouszoommove=1\r\ncontinuousfocusmove=1\r\n");
  EXPECT_FALSE(noMove.pan);
  EXPECT_FALSE(noMove.tilt);
  EXPECT_TRUE(noMove.zoom);
  EXPECT_FALSE(noMove.areaZoom);
  EXPECT_FALSE(noMove.focus);
  EXPECT_FALSE(noMove.presets);

  auto empty = ParsePtzInfo("continuouspantiltmove=\r\npan=yes\r\n");
  EXPECT_FALSE(empty.pan);
  EXPECT_FALSE(ParsePtzInfo("").zoom);
}

}  // namespace
}  // namespace norvale::ElmoParameterList
