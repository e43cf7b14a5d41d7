// Time in FILETIME units (100 ns since 1601-01-01 UTC) and its calendar form.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {

constexpr uint64_t kUnixEpoch = 116444736000000000ull;

TEST(PlatformTime, KnownDatesConvertBothWays) {
  struct Case {
    SystemTime st;
    uint64_t fileTime;
  } cases[] = {
      {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
      {{1970, 1, 4, 1, 0, 0, 0, 0}, kUnixEpoch},
      {{2000, 2, 2, 29, 12, 34, 56, 789}, kUnixEpoch + 951827696789ull * 10000},
      {{2038, 1, 2, 19, 3, 14, 8, 0}, kUnixEpoch + 2147483648ull * 10000000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.fileTime, SystemTimeToFileTime(c.st)) << c.st.year;
    const SystemTime back = FileTimeToSystemTime(c.fileTime);
    EXPECT_EQ(c.st.year, back.year);
    EXPECT_EQ(c.st.month, back.month);
    EXPECT_EQ(c.st.day, back.day);
    EXPECT_EQ(c.st.dayOfWeek, back.dayOfWeek) << "0 is Sunday";
    EXPECT_EQ(c.st.hour, back.hour);
    EXPECT_EQ(c.st.minute, back.minute);
    EXPECT_EQ(c.st.second, back.second);
    EXPECT_EQ(c.st.milliseconds, back.milliseconds);
  }
}

TEST(PlatformTime, InvalidCalendarDatesGiveZero) {
  EXPECT_EQ(0u, SystemTimeToFileTime({2001, 2, 0, 29, 0, 0, 0, 0}));   // no 29 February in 2001
  EXPECT_EQ(0u, SystemTimeToFileTime({1600, 12, 0, 31, 0, 0, 0, 0}));  // before the epoch
  EXPECT_EQ(0u, SystemTimeToFileTime({2020, 13, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(0u, SystemTimeToFileTime({2020, 1, 0, 1, 24, 0, 0, 0}));
  EXPECT_EQ(0u, SystemTimeToFileTime({2020, 1, 0, 1, 0, 60, 0, 0}));
  EXPECT_EQ(0u, SystemTimeToFileTime({2020, 1, 0, 1, 0, 0, 0, 1000}));
  EXPECT_EQ(0u, SystemTimeToFileTime({60000, 1, 0, 1, 0, 0, 0, 0}));  // beyond what 64 bits hold
}

TEST(PlatformTime, NowFollowsTheSystemClock) {
  const auto unix100ns =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count() *
      10;
  const uint64_t now = FileTimeNow();
  const int64_t diff = static_cast<int64_t>(now - kUnixEpoch) - unix100ns;
  EXPECT_LT(diff < 0 ? -diff : diff, 600000000) << "within a minute of the system clock";
}

TEST(PlatformTime, TickCountDoesNotGoBackwards) {
  const uint32_t first = TickCount();
  SleepMs(20);
  const uint32_t second = TickCount();
  EXPECT_GE(static_cast<uint32_t>(second - first), 20u);
}

TEST(PlatformTime, TickCountMovesInSingleMilliseconds) {
  // A tick that moves in steps of the timer interrupt (16 ms on many systems) would stretch every
  // short time-out and skew every rate measured with it.
  uint32_t last = TickCount();
  uint32_t smallest = 0xFFFFFFFFu;
  const uint32_t start = last;
  for (int changes = 0; changes < 20 && TickCount() - start < 5000;) {
    const uint32_t now = TickCount();
    if (now == last) continue;
    smallest = std::min(smallest, now - last);
    last = now;
    ++changes;
  }
  EXPECT_EQ(1u, smallest);
}

}  // namespace
}  // namespace norvale::platform
