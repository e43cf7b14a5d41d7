#include "runtime/CFailureLatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using norvale::CFailureLatch;

// A camera that stays unreachable is reported once, and again only after it worked in between.
TEST(CFailureLatch, ReportsTheFirstFailureOfEachRun) {
  CFailureLatch latch;
  EXPECT_FALSE(latch.Failing());
  EXPECT_TRUE(latch.Fail());
  EXPECT_FALSE(latch.Fail());
  EXPECT_FALSE(latch.Fail());
  EXPECT_TRUE(latch.Failing());
  latch.Succeed();
  EXPECT_FALSE(latch.Failing());
  EXPECT_TRUE(latch.Fail());
  latch.Succeed();
  latch.Succeed();
  EXPECT_TRUE(latch.Fail());
}

// Several threads failing at once (the I/O poller and a host call) still give one log line.
TEST(CFailureLatch, OneReportWhenThreadsFailTogether) {
  CFailureLatch latch;
  std::atomic<int> reports{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i)
        if (latch.Fail()) ++reports;
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(reports.load(), 1);
}

}  // namespace
