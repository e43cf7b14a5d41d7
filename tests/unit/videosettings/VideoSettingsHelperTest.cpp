#include <gtest/gtest.h>

#include "videosettings/CVideoSettingsHelper.h"

using norvale::CVideoSettingsHelper;
using norvale::StreamRequest;

namespace {

constexpr int32_t kPal = 0;
constexpr int32_t kJpeg = 1, kMpeg4 = 2, kH264 = 3;
using Sets = std::vector<std::string>;

StreamRequest Request(int32_t codec, const std::string& wanted, const std::string& current, uint32_t rate = 25,
                      bool secondH264 = false) {
  StreamRequest r;
  r.codec = codec;
  r.resolution = wanted;
  r.currentSet = current;
  r.frameRate = rate;
  r.secondH264 = secondH264;
  return r;
}

// ---- the sets a camera accepts ------------------------------------------------------------------

TEST(ResolutionSetsThreeStreams, HdCameraSetsGrowWithItsNames) {
  EXPECT_EQ(CVideoSettingsHelper(kPal, true, 3, "720p").GetResolutionSets(),
            (Sets{"720p,720p,disable", "d1,720p,disable", "cif,720p,disable", "disable,720p,d1", "disable,720p,cif"}));
  EXPECT_EQ(CVideoSettingsHelper(kPal, true, 3, "1080p,sxga,qvga,vga,720p,d1,cif").GetResolutionSets(),
            (Sets{"720p,720p,disable", "d1,720p,disable", "cif,720p,disable", "disable,720p,d1", "disable,720p,cif",
                  "vga,720p,disable", "disable,720p,vga", "qvga,720p,disable", "disable,720p,qvga",
                  "disable,sxga,disable", "sxga,disable,disable", "disable,1080p,disable", "1080p,disable,disable"}));
}

TEST(ResolutionSetsThreeStreams, SdCameraNeedsD1AndCif) {
  EXPECT_EQ(CVideoSettingsHelper(kPal, true, 3, "d1,cif,qcif").GetResolutionSets(),
            (Sets{"d1,d1,disable", "cif,d1,disable", "disable,d1,cif", "disable,d1,d1"}));
  EXPECT_TRUE(CVideoSettingsHelper(kPal, true, 3, "d1,vga").GetResolutionSets().empty());
  EXPECT_TRUE(CVideoSettingsHelper(kPal, true, 3, "1080p,sxga").GetResolutionSets().empty());
}

TEST(ResolutionSetsTwoStreams, HdCameraWithAndWithout1080p) {
  EXPECT_EQ(CVideoSettingsHelper(kPal, false, 3, "720p,d1").GetResolutionSets(),
            (Sets{"720p,720p", "d1,720p", "cif,720p", "720p,disable"}));
  EXPECT_EQ(CVideoSettingsHelper(kPal, false, 3, "1080p,720p").GetResolutionSets(),
            (Sets{"720p,720p", "d1,720p", "cif,720p", "disable,1080p", "1080p,disable"}));
}

TEST(ResolutionSetsTwoStreams, QuadVgaCameraAndSdCamera) {
  EXPECT_EQ(CVideoSettingsHelper(kPal, false, 5, "quadvga,vga,qcif").GetResolutionSets(),
            (Sets{"vga,vga", "vga15,vga15", "quadvga,vga", "quadvga,qvga", "quadvga,cif", "quadvga,qcif"}));
  EXPECT_EQ(CVideoSettingsHelper(kPal, false, 5, "quadvga,vga,d1,cif").GetResolutionSets(), (Sets{"d1,d1", "cif,d1"}));
  EXPECT_TRUE(CVideoSettingsHelper(kPal, false, 5, "").GetResolutionSets().empty());
  EXPECT_TRUE(CVideoSettingsHelper(kPal, false, 5, "720P,D1,CIF").GetResolutionSets().empty());  // names are lower case
  EXPECT_TRUE(CVideoSettingsHelper(kPal, false, 5, "d1, cif").GetResolutionSets().empty());      // names are exact
}

// ---- rule A: cameras with two or three streams, from the helper's own sets ----------------------

TEST(SelectResolutionSetOwnSets, JpegTakesTheSmallestLargeEnoughName) {
  const CVideoSettingsHelper helper(kPal, false, 3, "1080p,720p,d1,cif");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "vga", "720p,720p")), "d1,720p");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "VGA", "720p,720p")), "d1,720p");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "qcif", "720p,720p")), "cif,720p");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "5m", "720p,720p")), "1080p,disable");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "", "720p,720p")), "cif,720p");
}

TEST(SelectResolutionSetOwnSets, NoChangeWhenTheCameraHasTheChoiceAlready) {
  const CVideoSettingsHelper helper(kPal, false, 3, "1080p,720p,d1,cif");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "d1", "d1,720p")), "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "d1", "cif,720p")), "");  // first H.264 stream: 720p
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "1080p", "720p,720p")), "disable,1080p");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "1080p", "disable,1080p")), "");
}

TEST(SelectResolutionSetOwnSets, SecondH264StreamUsesTheThirdEntry) {
  const CVideoSettingsHelper helper(kPal, true, 3, "720p,d1,cif,vga");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "vga", "d1,720p,disable", 25, true)), "disable,720p,vga");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "qcif", "d1,720p,disable", 25, true)), "disable,720p,cif");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "d1", "disable,720p,d1", 25, true)), "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "qcif", "d1,d1,disable", 25, false)), "720p,720p,disable");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "qcif", "d1,720p,disable", 25, false)), "");
  // A camera of two-stream sets has no third entry to offer.
  const CVideoSettingsHelper twoStreams(kPal, false, 3, "720p,d1,cif");
  EXPECT_EQ(twoStreams.SelectResolutionSet(Request(kH264, "vga", "d1,720p,disable", 25, true)), "");
}

TEST(SelectResolutionSetOwnSets, Vga15IsChosenForFifteenFramesPerSecond) {
  const CVideoSettingsHelper helper(kPal, false, 5, "quadvga,vga,qvga,cif,qcif");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "vga", "quadvga,cif", 15)), "vga15,vga15");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "vga", "quadvga,cif", 25)), "vga,vga");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "vga", "vga15,vga15", 15)), "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "quadvga", "vga,vga", 15)), "quadvga,vga");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "qcif", "vga,vga")), "quadvga,qcif");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "cif", "vga,vga")), "quadvga,cif");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "qvga", "vga,vga")), "quadvga,qvga");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "vga", "vga,vga", 15)), "vga15,vga15");
}

TEST(SelectResolutionSetOwnSets, UnknownCodecOrNoSetsChangeNothing) {
  const CVideoSettingsHelper helper(kPal, false, 3, "720p,d1,cif");
  EXPECT_EQ(helper.SelectResolutionSet(Request(0, "vga", "720p,720p")), "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(4, "vga", "720p,720p")), "");
  const CVideoSettingsHelper none(kPal, false, 3, "vga");
  EXPECT_EQ(none.SelectResolutionSet(Request(kJpeg, "vga", "d1,cif")), "");
}

// ---- rule B: four-stream cameras ----------------------------------------------------------------

TEST(SelectResolutionSetFourStreams, WantedNameGoesToTheJpegAndTheCodecEntry) {
  const CVideoSettingsHelper helper(kPal, false, 5, "quadvga,vga");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "vga", "d1,cif,qcif,vga")), "vga,vga,disable,disable");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "VGA", "d1,cif,qcif,vga")), "vga,disable,vga,disable");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "quadvga", "d1,cif,qcif,vga")),
            "quadvga,disable,disable,disable");
}

TEST(SelectResolutionSetFourStreams, NothingWhenAlreadySetOrNothingWanted) {
  const CVideoSettingsHelper helper(kPal, false, 5, "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "d1", "d1,cif,qcif,vga")), "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "", "d1,cif,qcif,vga")), "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(9, "vga", "d1,cif,qcif,vga")), "");
}

// ---- rule C: five-stream cameras ----------------------------------------------------------------

TEST(SelectResolutionSetFiveStreams, OnlyTheRequestedStreamStaysOn) {
  const CVideoSettingsHelper helper(kPal, false, 7, "5m,1080p");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "720P", "disable,1080p,disable,disable,disable")),
            "disable,720p,disable,disable,disable");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kJpeg, "vga", "disable,1080p,disable,disable,disable")),
            "vga,disable,disable,disable,disable");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kMpeg4, "vga", "disable,1080p,vga,disable,disable")),
            "vga,disable,disable,disable,disable");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "1080p", "disable,1080p,disable,disable,disable")), "");
  EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "", "disable,1080p,disable,disable,disable")), "");
}

TEST(SelectResolutionSetDispatch, OtherEntryCountsChangeNothing) {
  const CVideoSettingsHelper helper(kPal, true, 3, "720p,d1,cif,vga,1080p");
  for (const char* current : {"", "720p", "a,b,c,d,e,f", ",,,,,,,,"})
    EXPECT_EQ(helper.SelectResolutionSet(Request(kH264, "vga", current)), "") << current;
}

}  // namespace
