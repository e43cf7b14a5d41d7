// The OS event seam: Win32 event semantics on which every worker thread's stop and wake-up rely.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {

struct EventHolder {
  explicit EventHolder(bool manual) : ev(CreateEvent(manual)) {}
  ~EventHolder() { DestroyEvent(ev); }
  Event* ev;
};

TEST(PlatformEvent, AutoResetEventIsConsumedByTheWaitThatSeesIt) {
  EventHolder e(false);
  EXPECT_FALSE(WaitEvent(e.ev, 0));
  SetEvent(e.ev);
  SetEvent(e.ev);  // an event is a flag, not a counter
  EXPECT_TRUE(WaitEvent(e.ev, 0));
  EXPECT_FALSE(WaitEvent(e.ev, 0));
}

TEST(PlatformEvent, ManualResetEventStaysSignalledUntilReset) {
  EventHolder e(true);
  SetEvent(e.ev);
  EXPECT_TRUE(WaitEvent(e.ev, 0));
  EXPECT_TRUE(WaitEvent(e.ev, 10));
  ResetEvent(e.ev);
  EXPECT_FALSE(WaitEvent(e.ev, 0));
}

TEST(PlatformEvent, MissingHandlesAndBadListsFailInsteadOfBlocking) {
  EXPECT_FALSE(WaitEvent(nullptr, kInfinite));
  SetEvent(nullptr);
  ResetEvent(nullptr);
  EventHolder e(false);
  Event* withNull[2] = {e.ev, nullptr};
  SetEvent(e.ev);
  EXPECT_EQ(-1, WaitAnyEvent(nullptr, 2, kInfinite));
  EXPECT_EQ(-1, WaitAnyEvent(withNull, 0, kInfinite));
  EXPECT_EQ(-1, WaitAnyEvent(withNull, 2, kInfinite));
  EXPECT_TRUE(WaitEvent(e.ev, 0)) << "a refused wait must not consume the signal";
}

TEST(PlatformEvent, WaitAnyWakesOnTheEventSetByAnotherThread) {
  EventHolder a(false), b(false), c(false);
  Event* list[3] = {a.ev, b.ev, c.ev};
  std::thread setter([&] {
    SleepMs(20);
    SetEvent(c.ev);
  });
  EXPECT_EQ(2, WaitAnyEvent(list, 3, kInfinite));
  setter.join();
  EXPECT_EQ(-1, WaitAnyEvent(list, 3, 0));
}

TEST(PlatformEvent, TimedOutWaiterIsForgottenByLaterSets) {
  // A waiter that timed out (or was cancelled) must not be notified afterwards; under ASan a
  // dangling registration shows up as a use after its stack frame ended.
  EventHolder e(false);
  EXPECT_FALSE(WaitEvent(e.ev, 5));
  std::thread t([&] { EXPECT_FALSE(WaitEvent(e.ev, 5)); });
  t.join();
  SetEvent(e.ev);
  EXPECT_TRUE(WaitEvent(e.ev, 0));
}

struct CancelledWaiter {
  Event* ev;
  std::atomic<bool> waiting{false};
};

TEST(PlatformEvent, CancelledWaiterUnregistersItself) {
  EventHolder e(false);
  CancelledWaiter shared{e.ev};
  Thread* t = StartThread(
      [](void* arg) {
        auto* w = static_cast<CancelledWaiter*>(arg);
        w->waiting = true;
        WaitEvent(w->ev, kInfinite);
      },
      &shared, nullptr);
  ASSERT_NE(nullptr, t);
  while (!shared.waiting) SleepMs(1);
  SleepMs(20);
  EXPECT_TRUE(TerminateThread(t));
  CloseThread(t);
  SetEvent(e.ev);  // must not touch the cancelled waiter's condition variable
  EXPECT_TRUE(WaitEvent(e.ev, 0));
}

}  // namespace
}  // namespace norvale::platform
