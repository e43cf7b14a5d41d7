#include <gtest/gtest.h>

#include "videosettings/CResolutionHelper.h"

using norvale::CResolutionHelper;

namespace {

constexpr int32_t kPal = 0, kNtsc = 1;

struct Size {
  uint16_t width, height;
  bool operator==(const Size&) const = default;
};

Size SizeOf(int32_t standard, const std::string& name) {
  Size size{0, 0};
  EXPECT_TRUE(CResolutionHelper(standard).GetResolutionSize(name, size.width, size.height)) << name;
  return size;
}

TEST(ResolutionTable, TvFormatsFollowTheStandardOthersDoNot) {
  for (int32_t standard : {kPal, kNtsc, 7}) {  // any nonzero standard is NTSC
    EXPECT_EQ(SizeOf(standard, "5m"), (Size{2592, 1944}));
    EXPECT_EQ(SizeOf(standard, "quadvga"), (Size{1280, 960}));
    EXPECT_EQ(SizeOf(standard, "qvga"), (Size{320, 240}));
  }
  EXPECT_EQ(SizeOf(kPal, "d1"), (Size{720, 576}));
  EXPECT_EQ(SizeOf(kPal, "cif"), (Size{352, 288}));
  EXPECT_EQ(SizeOf(kPal, "qcif"), (Size{176, 144}));
  EXPECT_EQ(SizeOf(kNtsc, "d1"), (Size{720, 480}));
  EXPECT_EQ(SizeOf(kNtsc, "cif"), (Size{352, 240}));
  EXPECT_EQ(SizeOf(7, "qcif"), (Size{176, 120}));
}

TEST(ResolutionTable, EveryNameHasTheSizeItIsNamedBy) {
  for (int32_t standard : {kPal, kNtsc}) {
    const CResolutionHelper helper(standard);
    for (const char* name :
         {"5m", "3m", "1080p", "sxga", "quadvga", "720p", "xga", "svga", "d1", "vga", "qvga", "cif", "qcif"}) {
      uint16_t w = 0, h = 0;
      ASSERT_TRUE(helper.GetResolutionSize(name, w, h)) << name;
      EXPECT_EQ(helper.GetResolutionName(w, h), name) << standard;  // sizes are unique per standard
    }
  }
}

TEST(ResolutionTable, NamesAreExactAndLowerCase) {
  const CResolutionHelper helper(kPal);
  uint16_t w = 1, h = 2;
  for (const char* name : {"VGA", "Vga", " vga", "vga ", "", "vga15", "disable", "4k"})
    EXPECT_FALSE(helper.GetResolutionSize(name, w, h)) << name;
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 2);
}

TEST(ResolutionTable, NameOfASizeDependsOnTheStandard) {
  EXPECT_EQ(CResolutionHelper(kNtsc).GetResolutionName(720, 480), "d1");
  EXPECT_EQ(CResolutionHelper(kPal).GetResolutionName(720, 480), "");
  EXPECT_EQ(CResolutionHelper(kPal).GetResolutionName(720, 576), "d1");
  EXPECT_EQ(CResolutionHelper(kPal).GetResolutionName(176, 144), "qcif");
  EXPECT_EQ(CResolutionHelper(kNtsc).GetResolutionName(176, 144), "");
  EXPECT_EQ(CResolutionHelper(kPal).GetResolutionName(1280, 960), "quadvga");
  EXPECT_EQ(CResolutionHelper(kPal).GetResolutionName(0, 0), "");
  EXPECT_EQ(CResolutionHelper(kPal).GetResolutionName(480, 640), "");
}

TEST(ResolutionOrder, ByWidthThenHeight) {
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("qcif", "cif"));
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("qvga", "cif"));  // 320 < 352
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("vga", "d1"));
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("720p", "quadvga"));  // same width, lower
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("quadvga", "sxga"));
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("3m", "5m"));
  EXPECT_FALSE(CResolutionHelper::IsSmallerResolution("sxga", "720p"));
  EXPECT_FALSE(CResolutionHelper::IsSmallerResolution("vga", "vga"));
  EXPECT_FALSE(CResolutionHelper::IsSmallerResolution("1080p", "vga"));
}

TEST(ResolutionOrder, UnknownNamesOrderFirstAndNothingIsSmallerThanThem) {
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("", "qcif"));
  EXPECT_TRUE(CResolutionHelper::IsSmallerResolution("vga15", "qcif"));
  EXPECT_FALSE(CResolutionHelper::IsSmallerResolution("qcif", ""));
  EXPECT_FALSE(CResolutionHelper::IsSmallerResolution("5m", "nonsense"));
  EXPECT_FALSE(CResolutionHelper::IsSmallerResolution("", ""));  // stays a strict ordering
  EXPECT_FALSE(CResolutionHelper::IsSmallerResolution("x", "y"));
}

TEST(ResolutionOrder, ChooseTakesTheSmallestThatIsLargeEnough) {
  const std::vector<std::string> candidates = {"720p", "cif", "d1", "1080p"};
  EXPECT_EQ(CResolutionHelper::ChooseResolution(candidates, "vga"), "d1");
  EXPECT_EQ(CResolutionHelper::ChooseResolution(candidates, "d1"), "d1");
  EXPECT_EQ(CResolutionHelper::ChooseResolution(candidates, "qcif"), "cif");
  EXPECT_EQ(CResolutionHelper::ChooseResolution(candidates, "sxga"), "1080p");
  EXPECT_EQ(CResolutionHelper::ChooseResolution(candidates, "5m"), "1080p");  // none large enough
  EXPECT_EQ(CResolutionHelper::ChooseResolution(candidates, ""), "cif");      // no wish: smallest
  EXPECT_EQ(CResolutionHelper::ChooseResolution({}, "vga"), "");
}

TEST(ResolutionRates, PalScalesThirtyToTwentyFive) {
  EXPECT_EQ(CResolutionHelper(kPal).ToStandardRate(30), 25u);
  EXPECT_EQ(CResolutionHelper(kPal).ToStandardRate(15), 12u);
  EXPECT_EQ(CResolutionHelper(kPal).ToStandardRate(1), 0u);
  EXPECT_EQ(CResolutionHelper(kPal).ToStandardRate(0xFFFFFFFFu), 3579139412u);  // no overflow
  EXPECT_EQ(CResolutionHelper(kNtsc).ToStandardRate(15), 15u);
  EXPECT_EQ(CResolutionHelper(kNtsc).ToStandardRate(30), 30u);
}

}  // namespace
