#include <gtest/gtest.h>

#include "videosettings/CFramerateHelper.h"

using norvale::CFramerateHelper;
using norvale::FrameSkipEntry;

namespace {

constexpr int32_t kPal = 0, kNtsc = 1;
using Table = std::vector<FrameSkipEntry>;
using Rates = std::set<uint32_t>;
using Options = std::vector<uint32_t>;

TEST(FrameSkipOptions, BySeries) {
  for (uint32_t series : {2u, 3u, 9u}) {
    EXPECT_EQ(CFramerateHelper(kPal, series, false).GetFrameSkipOptions(), (Options{0, 5, 10, 15})) << series;
    EXPECT_EQ(CFramerateHelper(kPal, series, true).GetFrameSkipOptions(), (Options{0, 5, 10, 15, 2, 3, 4})) << series;
  }
  EXPECT_EQ(CFramerateHelper(kPal, 5, false).GetFrameSkipOptions(), (Options{0, 2, 5, 100}));
  EXPECT_EQ(CFramerateHelper(kPal, 5, true).GetFrameSkipOptions(), (Options{0, 2, 5, 100}));
  for (uint32_t series : {0u, 1u, 4u, 6u, 7u, 8u, 42u})
    EXPECT_EQ(CFramerateHelper(kNtsc, series, true).GetFrameSkipOptions(), (Options{0, 5, 10, 15})) << series;
}

TEST(FrameSkipTable, SingleBaseRateSeries) {
  EXPECT_EQ(CFramerateHelper(kPal, 2, false).GetFrameSkipTable(),
            (Table{{30, 0, 25}, {30, 5, 5}, {30, 10, 2}, {30, 15, 1}}));
  EXPECT_EQ(CFramerateHelper(kNtsc, 2, false).GetFrameSkipTable(),
            (Table{{30, 0, 30}, {30, 5, 6}, {30, 10, 3}, {30, 15, 2}}));
  EXPECT_EQ(CFramerateHelper(kNtsc, 3, true).GetFrameSkipTable(),
            (Table{{30, 0, 30}, {30, 5, 6}, {30, 10, 3}, {30, 15, 2}, {30, 2, 15}, {30, 3, 10}, {30, 4, 7}}));
  EXPECT_EQ(CFramerateHelper(kPal, 9, true).GetFrameSkipTable(),
            (Table{{30, 0, 25}, {30, 5, 5}, {30, 10, 2}, {30, 15, 1}, {30, 2, 12}, {30, 3, 8}, {30, 4, 6}}));
  for (uint32_t series : {4u, 6u})
    EXPECT_EQ(CFramerateHelper(kPal, series, true).GetFrameSkipTable(),
              (Table{{30, 0, 25}, {30, 5, 5}, {30, 10, 2}, {30, 15, 1}}));
}

TEST(FrameSkipTable, SeriesOneCountsSkippedFramesAndDropsZeroRates) {
  EXPECT_EQ(CFramerateHelper(kNtsc, 1, false).GetFrameSkipTable(),
            (Table{{30, 0, 30}, {30, 5, 5}, {30, 10, 2}, {30, 15, 1}, {15, 0, 15}, {15, 5, 2}, {15, 10, 1}}));
  EXPECT_EQ(CFramerateHelper(kPal, 1, false).GetFrameSkipTable(),
            (Table{{30, 0, 25}, {30, 5, 4}, {30, 10, 2}, {30, 15, 1}, {15, 0, 12}, {15, 5, 2}, {15, 10, 1}}));
}

TEST(FrameSkipTable, SeriesFiveAlwaysHasOneFramePerSecond) {
  EXPECT_EQ(
      CFramerateHelper(kNtsc, 5, false).GetFrameSkipTable(),
      (Table{{30, 0, 30}, {30, 2, 15}, {30, 5, 6}, {30, 100, 1}, {15, 0, 15}, {15, 2, 7}, {15, 5, 3}, {15, 100, 1}}));
  EXPECT_EQ(
      CFramerateHelper(kPal, 5, false).GetFrameSkipTable(),
      (Table{{30, 0, 25}, {30, 2, 12}, {30, 5, 5}, {30, 100, 1}, {15, 0, 12}, {15, 2, 6}, {15, 5, 2}, {15, 100, 1}}));
}

TEST(FrameSkipTable, SeriesWithoutBaseRateHaveNoTable) {
  for (uint32_t series : {0u, 7u, 8u, 10u}) {
    const CFramerateHelper helper(kPal, series, true);
    EXPECT_TRUE(helper.GetFrameSkipTable().empty()) << series;
    EXPECT_TRUE(helper.GetFrameRates().empty()) << series;
    EXPECT_EQ(helper.FindFrameSkip(25, 0), FrameSkipEntry{}) << series;
  }
}

TEST(FrameSkipRates, DistinctRatesOverallAndPerBase) {
  const CFramerateHelper helper(kNtsc, 5, false);
  EXPECT_EQ(helper.GetFrameRates(), (Rates{1, 3, 6, 7, 15, 30}));
  EXPECT_EQ(helper.GetFrameRates(15), (Rates{1, 3, 7, 15}));
  EXPECT_EQ(helper.GetFrameRates(30), (Rates{1, 6, 15, 30}));
  EXPECT_TRUE(helper.GetFrameRates(25).empty());
}

TEST(FindFrameSkip, HighestRateNotAboveTheWish) {
  const CFramerateHelper helper(kNtsc, 3, true);  // rates 2 3 6 7 10 15 30
  EXPECT_EQ(helper.FindFrameSkip(30, 0), (FrameSkipEntry{30, 0, 30}));
  EXPECT_EQ(helper.FindFrameSkip(29, 0), (FrameSkipEntry{30, 2, 15}));
  EXPECT_EQ(helper.FindFrameSkip(9, 0), (FrameSkipEntry{30, 4, 7}));
  EXPECT_EQ(helper.FindFrameSkip(6, 0), (FrameSkipEntry{30, 5, 6}));
}

TEST(FindFrameSkip, OutOfRangeWishesTakeTheEnds) {
  const CFramerateHelper helper(kPal, 2, false);  // rates 1 2 5 25
  EXPECT_EQ(helper.FindFrameSkip(0, 0), (FrameSkipEntry{30, 15, 1}));
  EXPECT_EQ(helper.FindFrameSkip(1000, 0), (FrameSkipEntry{30, 0, 25}));
  EXPECT_EQ(helper.FindFrameSkip(0xFFFFFFFFu, 0), (FrameSkipEntry{30, 0, 25}));
}

TEST(FindFrameSkip, PrefersTheSmallestBaseRateUnlessABaseIsGiven) {
  const CFramerateHelper helper(kNtsc, 5, false);
  EXPECT_EQ(helper.FindFrameSkip(15, 0), (FrameSkipEntry{15, 0, 15}));
  EXPECT_EQ(helper.FindFrameSkip(15, 30), (FrameSkipEntry{30, 2, 15}));
  EXPECT_EQ(helper.FindFrameSkip(1, 0), (FrameSkipEntry{15, 100, 1}));
  EXPECT_EQ(helper.FindFrameSkip(1, 30), (FrameSkipEntry{30, 100, 1}));
  EXPECT_EQ(helper.FindFrameSkip(29, 15), (FrameSkipEntry{15, 0, 15}));  // the base caps the rate
  EXPECT_EQ(helper.FindFrameSkip(10, 25), FrameSkipEntry{});             // no such base
  const CFramerateHelper series1(kPal, 1, false);  // rate 2 from base 30 option 10 and base 15 option 5
  EXPECT_EQ(series1.FindFrameSkip(3, 0), (FrameSkipEntry{15, 5, 2}));
  EXPECT_EQ(series1.FindFrameSkip(3, 30), (FrameSkipEntry{30, 10, 2}));
}

TEST(MaxFrameRate, BySeriesAndResolution) {
  const CFramerateHelper s1(kNtsc, 1, false);
  EXPECT_EQ(s1.GetMaxFrameRate("vga", false), 30u);
  EXPECT_EQ(s1.GetMaxFrameRate("d1", false), 15u);
  const CFramerateHelper s5(kNtsc, 5, false);
  EXPECT_EQ(s5.GetMaxFrameRate("quadvga", false), 15u);
  EXPECT_EQ(s5.GetMaxFrameRate("vga", false), 30u);
  for (uint32_t series : {0u, 2u, 3u, 4u, 6u, 8u, 9u})
    EXPECT_EQ(CFramerateHelper(kNtsc, series, false).GetMaxFrameRate("5m", false), 30u) << series;
}

TEST(MaxFrameRate, SeriesSevenMegapixelLimits) {
  const CFramerateHelper pal(kPal, 7, false);
  EXPECT_EQ(pal.GetMaxFrameRate("5m", false), 12u);
  EXPECT_EQ(pal.GetMaxFrameRate("3m", false), 15u);  // never scaled
  EXPECT_EQ(pal.GetMaxFrameRate("1080p", false), 25u);
  EXPECT_EQ(pal.GetMaxFrameRate("", false), 25u);
  const CFramerateHelper ntsc(kNtsc, 7, false);
  EXPECT_EQ(ntsc.GetMaxFrameRate("5m", false), 15u);
  EXPECT_EQ(ntsc.GetMaxFrameRate("3m", false), 15u);
  EXPECT_EQ(ntsc.GetMaxFrameRate("720p", false), 30u);
}

TEST(MaxFrameRate, UnscaledGivesTheNtscRate) {
  EXPECT_EQ(CFramerateHelper(kPal, 7, false).GetMaxFrameRate("5m", true), 15u);
  EXPECT_EQ(CFramerateHelper(kPal, 2, false).GetMaxFrameRate("vga", true), 30u);
  EXPECT_EQ(CFramerateHelper(kPal, 1, false).GetMaxFrameRate("d1", true), 15u);
  EXPECT_EQ(CFramerateHelper(kPal, 1, false).GetMaxFrameRate("d1", false), 12u);
}

}  // namespace
