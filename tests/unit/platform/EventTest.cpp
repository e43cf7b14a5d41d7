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

TEST(PlatformEvent, EventListedTwiceCountsAtItsFirstPlace) {
  EventHolder a(false), b(false);
  Event* list[3] = {b.ev, a.ev, a.ev};
  SetEvent(a.ev);
  EXPECT_EQ(1, WaitAnyEvent(list, 3, 0));
  EXPECT_EQ(-1, WaitAnyEvent(list, 3, 0)) << "one set wakes one wait";
  SetEvent(a.ev);
  SetEvent(b.ev);
  EXPECT_EQ(0, WaitAnyEvent(list, 3, 0)) << "the first signalled event of the list";
  EXPECT_EQ(1, WaitAnyEvent(list, 3, 0));
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

TEST(PlatformEvent, PingPongThroughWaitAnyLosesNoWakeUp) {
  // Two threads hand a turn back and forth many times, each waiting on {stop, its own event}; a
  // set that races with a waiter's registration must still wake it (a lost one stalls a round).
  EventHolder stop(true), ping(false), pong(false);
  constexpr int kRounds = 20000;
  std::atomic<int> stalls{0};
  std::thread other([&] {
    Event* events[2] = {stop.ev, ping.ev};
    for (int i = 0; i < kRounds; ++i) {
      const int seen = WaitAnyEvent(events, 2, 5000);
      if (seen != 1) {
        ++stalls;
        return;
      }
      SetEvent(pong.ev);
    }
  });
  Event* events[2] = {stop.ev, pong.ev};
  int rounds = 0;
  for (; rounds < kRounds; ++rounds) {
    SetEvent(ping.ev);
    if (WaitAnyEvent(events, 2, 5000) != 1) break;
  }
  SetEvent(stop.ev);
  other.join();
  EXPECT_EQ(kRounds, rounds);
  EXPECT_EQ(0, stalls.load());
  EXPECT_FALSE(WaitEvent(ping.ev, 0)) << "every ping was consumed by exactly one wait";
  EXPECT_EQ(0, WaitAnyEvent(events, 2, 0)) << "the manual stop event stays signalled";
}

}  // namespace
}  // namespace norvale::platform
