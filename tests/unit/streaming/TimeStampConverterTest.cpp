#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "streaming/CTimeStampConverter.h"
#include "streaming/TStatisticsHelper.h"

namespace zephrin::test {
namespace {

using norvale::CTimeStampConverter;

uint64_t g_now = 0;
uint64_t FakeNow() { return g_now; }

uint64_t FileTime(uint16_t year, uint16_t month, uint16_t day) {
  norvale::platform::SystemTime st{};
  st.year = year;
  st.month = month;
  st.day = day;
  return norvale::platform::SystemTimeToFileTime(st);
}

class TimeStampConverter : public ::testing::Test {
 protected:
  void SetUp() override { g_now = FileTime(2024, 3, 1); }
  // Advances the clock by wallStep and the RTP time by ticks, then converts; returns the step of the
  // converted time.
  int64_t Step(uint64_t wallStep, uint32_t ticks) {
    const uint64_t before = converter.Current();
    g_now += wallStep;
    rtp += ticks;
    converter.Update(rtp);
    return static_cast<int64_t>(converter.Current() - before);
  }

  CTimeStampConverter converter{&FakeNow};
  uint32_t rtp = 123456;
};

TEST_F(TimeStampConverter, StartsAtThePresentAndFollowsTheRtpClockForTheFirstHundredSteps) {
  converter.Update(rtp);
  EXPECT_EQ(converter.Current(), g_now);
  for (int frame = 1; frame <= 100; ++frame) ASSERT_EQ(Step(300000, 3000), 333000) << frame;
  // Running ahead of the clock by more than 250 ms (and on the hundredth frame in any case) the
  // converter remembers how far it is ahead.
  EXPECT_EQ(converter.Lead(), converter.Current() - g_now);
}

TEST_F(TimeStampConverter, StalledTimeStampsMoveOnByOneMillisecondOrToThePresent) {
  converter.Update(rtp);
  Step(100000, 3000);
  EXPECT_EQ(Step(0, 0), 10000);
  EXPECT_EQ(converter.Lead(), converter.Current() - g_now);
  Step(1000000, 0);  // the present is later than 1 ms on
  EXPECT_EQ(converter.Current(), g_now);
}

TEST_F(TimeStampConverter, JumpsAndFallingBehindRestartAtThePresent) {
  converter.Update(rtp);
  Step(300000, 3000);
  Step(300000, 3000);
  Step(300000, 180000);  // 2 s of RTP time in one frame
  EXPECT_EQ(converter.Current(), g_now);
  EXPECT_EQ(converter.Lead(), 0u);
  EXPECT_EQ(Step(300000, 3000), 333000);

  Step(10000000, 3000);  // the clock ran on a whole second: 33 ms would be in the past
  EXPECT_EQ(converter.Current(), g_now);

  // An RTP time stamp of 0 counts as unset: the frame after it starts over.
  converter.Update(0);
  g_now += 1000;
  converter.Update(5000);
  EXPECT_EQ(converter.Current(), g_now);
}

TEST_F(TimeStampConverter, AfterTheFirstHundredStepsTheWallClockSetsThePace) {
  converter.Update(rtp);
  for (int frame = 1; frame <= 100; ++frame) Step(332990, 3000);
  EXPECT_LE(converter.Lead(), 10000u);
  // Each frame now advances by the measured wall time per frame, not by 3000 x 111.
  for (int frame = 101; frame <= 300; ++frame) ASSERT_EQ(Step(332990, 3000), 332990) << frame;
}

TEST_F(TimeStampConverter, ALeadIsWorkedOffInSlices) {
  converter.Update(rtp);
  for (int frame = 1; frame <= 100; ++frame) Step(300000, 3000);
  const uint64_t lead = converter.Lead();
  ASSERT_GT(lead, 2500000u);
  // A tenth of the step (30000) comes off the step and the lead.
  EXPECT_EQ(Step(300000, 3000), 270000);
  EXPECT_EQ(converter.Lead(), lead - 30000);
  EXPECT_EQ(converter.Lead(), converter.Current() - g_now);
}

TEST_F(TimeStampConverter, SmallStepsWorkOffTheLeadOneMillisecondAtATime) {
  converter.Update(rtp);
  for (int frame = 1; frame <= 100; ++frame) Step(60000, 600);  // 600 x 111 = 66600 a frame
  const uint64_t lead = converter.Lead();
  ASSERT_EQ(lead, converter.Current() - g_now);
  ASSERT_GT(lead, 10000u);
  EXPECT_EQ(Step(60000, 600), 50000);  // a step of 6 ms gives up 1 ms
  EXPECT_EQ(converter.Lead(), lead - 10000);
}

TEST_F(TimeStampConverter, StepsOfAtMostFourMillisecondsKeepTheLead) {
  converter.Update(rtp);
  for (int frame = 1; frame <= 100; ++frame) Step(40000, 450);
  const uint64_t lead = converter.Lead();
  ASSERT_GT(lead, 10000u);
  EXPECT_EQ(Step(40000, 450), 40000);
  EXPECT_EQ(converter.Lead(), lead);
}

TEST_F(TimeStampConverter, CalendarTime) {
  norvale::ipcapture::SystemTimeRecord time{};
  converter.GetTime(&time);  // nothing converted yet: the present
  const uint64_t present = norvale::platform::FileTimeNow();
  norvale::platform::SystemTime st{time.year, time.month,  time.dayOfWeek, time.day,
                                   time.hour, time.minute, time.second,    time.milliseconds};
  const uint64_t reported = norvale::platform::SystemTimeToFileTime(st);
  EXPECT_LT(present > reported ? present - reported : reported - present, 600000000ull);

  converter.Update(rtp);
  Step(300000, 3000);  // 2024-03-01 00:00:00.0333
  converter.GetTime(&time);
  EXPECT_EQ(time.year, 2024);
  EXPECT_EQ(time.month, 3);
  EXPECT_EQ(time.day, 1);
  EXPECT_EQ(time.hour, 0);
  EXPECT_EQ(time.second, 0);
  EXPECT_EQ(time.milliseconds, 33);
}

TEST(StatisticsHelper, WindowKeepsTheLatestValues) {
  norvale::TStatisticsHelper<uint32_t> window(3);
  EXPECT_EQ(window.Average(), 0.0);
  window.Add(10);
  window.Add(20);
  EXPECT_EQ(window.Average(), 15.0);
  window.Add(30);
  window.Add(4000000000u);  // 10 leaves
  EXPECT_EQ(window.Count(), 3u);
  EXPECT_DOUBLE_EQ(window.Average(), (20.0 + 30.0 + 4000000000.0) / 3);
}

}  // namespace
}  // namespace zephrin::test
