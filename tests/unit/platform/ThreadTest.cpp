// The OS thread seam: waits with a limit, and handles closed while their thread still runs.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {

struct Probe {
  std::atomic<bool> release{false};
  std::atomic<bool> started{false};
};

void WaitForRelease(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  p->started = true;
  while (!p->release) SleepMs(1);
}

TEST(PlatformThread, WaitTimesOutWhileRunningAndSucceedsOnceFinished) {
  Probe probe;
  Thread* t = StartThread(&WaitForRelease, &probe, nullptr);
  ASSERT_NE(nullptr, t);
  EXPECT_FALSE(WaitThread(t, 0));
  EXPECT_FALSE(WaitThread(t, 20));
  EXPECT_FALSE(IsCurrentThread(t));
  probe.release = true;
  EXPECT_TRUE(WaitThread(t, kInfinite));
  EXPECT_TRUE(WaitThread(t, 0));
  EXPECT_TRUE(TerminateThread(t)) << "terminating a finished thread is a no-op";
  CloseThread(t);
  EXPECT_TRUE(WaitThread(nullptr, 0));
  EXPECT_FALSE(IsCurrentThread(nullptr));
}

}  // namespace
}  // namespace norvale::platform
