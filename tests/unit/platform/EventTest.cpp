// The OS event seam below CEvent: bad handles and waiters that leave a wait early.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {

struct EventHolder {
  explicit EventHolder(bool manual) : ev(CreateEvent(manual)) {}
  ~EventHolder() { DestroyEvent(ev); }
  Event* ev;
};

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

TEST(PlatformEvent, TimedOutWaiterIsForgottenByLaterSets) {
  // A waiter that timed out must not be notified afterwards; under ASan a dangling registration
  // shows up as a use of a finished stack frame.
  EventHolder e(false);
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
