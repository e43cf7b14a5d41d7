// The OS thread seam: start, wait, identify and terminate (deferred cancellation that unwinds).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {

struct Probe {
  std::atomic<uint32_t> seenId{0};
  std::atomic<bool> sawItself{false};
  std::atomic<bool> release{false};
  std::atomic<bool> started{false};
  std::atomic<int> unwound{0};
  Thread* self = nullptr;
};

struct CountsUnwind {
  Probe* probe;
  ~CountsUnwind() { ++probe->unwound; }
};

void RecordIdentity(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  p->seenId = CurrentThreadId();
}

void WaitForRelease(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  p->started = true;
  while (!p->release) SleepMs(1);
}

void IgnoreEverything(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  CountsUnwind guard{p};
  auto memory = std::make_unique<std::vector<char>>(1 << 16);  // freed by the unwinder, or LSan reports it
  p->started = true;
  for (;;) SleepMs(5);
}

TEST(PlatformThread, StartReportsTheIdTheThreadSeesForItself) {
  for (int i = 0; i < 20; ++i) {
    Probe probe;
    uint32_t id = 0;
    Thread* t = StartThread(&RecordIdentity, &probe, &id);
    ASSERT_NE(nullptr, t);
    EXPECT_TRUE(WaitThread(t, kInfinite));
    EXPECT_NE(0u, id);
    EXPECT_EQ(probe.seenId.load(), id);
    EXPECT_NE(CurrentThreadId(), id);
    CloseThread(t);
  }
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

TEST(PlatformThread, ThreadRecognisesItsOwnHandle) {
  Probe probe;
  probe.release = false;
  Thread* t = StartThread(
      [](void* arg) {
        auto* p = static_cast<Probe*>(arg);
        while (!p->release) SleepMs(1);
        p->sawItself = IsCurrentThread(p->self);
      },
      &probe, nullptr);
  ASSERT_NE(nullptr, t);
  probe.self = t;
  probe.release = true;
  EXPECT_TRUE(WaitThread(t, kInfinite));
  EXPECT_TRUE(probe.sawItself);
  CloseThread(t);
}

TEST(PlatformThread, TerminateUnwindsAThreadThatNeverReturns) {
  Probe probe;
  Thread* t = StartThread(&IgnoreEverything, &probe, nullptr);
  ASSERT_NE(nullptr, t);
  while (!probe.started) SleepMs(1);
  EXPECT_FALSE(WaitThread(t, 20));
  EXPECT_TRUE(TerminateThread(t));
  EXPECT_TRUE(WaitThread(t, 0));
  EXPECT_EQ(1, probe.unwound.load()) << "the thread's locals are destroyed on termination";
  CloseThread(t);
}

TEST(PlatformThread, ClosingARunningThreadDetachesIt) {
  auto probe = std::make_unique<Probe>();
  Thread* t = StartThread(&WaitForRelease, probe.get(), nullptr);
  ASSERT_NE(nullptr, t);
  CloseThread(t);  // the handle is gone; the thread keeps running on its own
  while (!probe->started) SleepMs(1);
  probe->release = true;
  SleepMs(50);  // let it finish before the probe goes away
}

}  // namespace
}  // namespace norvale::platform
