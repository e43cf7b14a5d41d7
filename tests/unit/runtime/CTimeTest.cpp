// Time stamps that measure how long ago something happened.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "runtime/CTime.h"

namespace norvale {
namespace {

constexpr uint64_t kMs = 10000;  // file-time units per millisecond

TEST(CTime, StartsAtNowAndCountsUpInMilliseconds) {
  const uint64_t before = platform::FileTimeNow();
  CTime time;
  EXPECT_GE(time.Get(), before);
  platform::SleepMs(30);
  EXPECT_GE(time.Elapsed(), 30u);
}

TEST(CTime, ElapsedOfAKnownPastTime) {
  CTime time;
  time.Set(platform::FileTimeNow() - 10000 * kMs);
  const uint32_t elapsed = time.Elapsed();
  EXPECT_GE(elapsed, 10000u);
  EXPECT_LT(elapsed, 70000u);
}

TEST(CTime, FutureTimeGivesZero) {
  CTime time;
  time.Set(platform::FileTimeNow() + 3600 * 1000 * kMs);
  EXPECT_EQ(0u, time.Elapsed());
}

TEST(CTime, ResetStoresNow) {
  CTime time;
  time.Set(platform::FileTimeNow() - 3600 * 1000 * kMs);
  EXPECT_GE(time.Elapsed(), 3600u * 1000u);
  time.Reset();
  EXPECT_LT(time.Elapsed(), 60000u);
}

}  // namespace
}  // namespace norvale
