// Periodic workers: the tick comes after each period, optionally once at start, and stops promptly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "runtime/CTickThread.h"
#include "support/FakeDriver.h"

namespace norvale {
namespace {

using Clock = std::chrono::steady_clock;

class Ticker : public CTickThread {
 public:
  using CTickThread::CTickThread;
  ~Ticker() override { StopThread(2000); }

  std::vector<Clock::time_point> Ticks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_;
  }
  size_t Count() { return Ticks().size(); }
  bool WaitForTicks(size_t n) {
    for (int i = 0; i < 20000; ++i) {
      if (Count() >= n) return true;
      platform::SleepMs(1);
    }
    return false;
  }

 protected:
  void Tick() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ticks_.push_back(Clock::now());
  }

 private:
  std::mutex mutex_;
  std::vector<Clock::time_point> ticks_;
};

TEST(CTickThread, DefaultPeriodIsOneAndAHalfSecondsAndTheFirstTickWaitsForIt) {
  zephrin::test::FakeDriver driver;
  Ticker ticker(&driver);
  EXPECT_EQ(1500u, ticker.Period());
  const auto start = Clock::now();
  ASSERT_TRUE(ticker.StartThread("io-poll"));
  ASSERT_TRUE(ticker.WaitForTicks(1));
  EXPECT_GE(ticker.Ticks()[0] - start, std::chrono::milliseconds(1500)) << "no tick before the first period";
  EXPECT_TRUE(ticker.StopThread(5000));
  EXPECT_TRUE(driver.Lines().empty());
}

TEST(CTickThread, StartWithTickTicksAtOnce) {
  zephrin::test::FakeDriver driver;
  Ticker ticker(&driver, 60000);  // only the start tick can come within this test
  ASSERT_TRUE(ticker.StartWithTick("at-start"));
  ASSERT_TRUE(ticker.WaitForTicks(1));
  EXPECT_TRUE(ticker.StopThread(5000));
  EXPECT_EQ(1u, ticker.Count());
  EXPECT_TRUE(driver.Lines().empty()) << "the stop event ends the period wait at once";
}

TEST(CTickThread, TicksRepeatEveryPeriodAndStopWhenAsked) {
  zephrin::test::FakeDriver driver;
  Ticker ticker(&driver, 20);
  const auto start = Clock::now();
  ASSERT_TRUE(ticker.StartThread("fast"));
  ASSERT_TRUE(ticker.WaitForTicks(4));
  EXPECT_TRUE(ticker.StopThread(5000));
  const auto ticks = ticker.Ticks();
  EXPECT_GE(ticks[3] - start, std::chrono::milliseconds(80)) << "each tick waits a whole period";
  platform::SleepMs(60);
  EXPECT_EQ(ticks.size(), ticker.Count()) << "no tick after the stop";
  EXPECT_TRUE(driver.Lines().empty());
}

TEST(CTickThread, PeriodCanChangeWhileRunning) {
  Ticker ticker(nullptr, 60000);
  ASSERT_TRUE(ticker.StartThread("slow-then-fast"));
  platform::SleepMs(20);
  ticker.SetPeriod(10);  // takes effect after the current wait; stop and restart to apply at once
  ASSERT_TRUE(ticker.StopThread(5000));
  EXPECT_EQ(0u, ticker.Count());
  ASSERT_TRUE(ticker.StartThread("fast"));
  ASSERT_TRUE(ticker.WaitForTicks(3));
  EXPECT_TRUE(ticker.StopThread(5000));
}

}  // namespace
}  // namespace norvale
