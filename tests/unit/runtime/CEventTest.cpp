// Events as the workers use them: stop events (manual reset), item and wake-up events (auto reset).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/CEvent.h"

namespace norvale {
namespace {

using Clock = std::chrono::steady_clock;

TEST(CEvent, StartsUnsignalledAndAutoResetsByDefault) {
  CEvent ev;
  EXPECT_FALSE(ev.Wait(0));
  ev.Set();
  EXPECT_TRUE(ev.Wait(0));
  EXPECT_FALSE(ev.Wait(0)) << "the first wait consumed the signal";
}

TEST(CEvent, ManualEventReleasesEveryWaitUntilReset) {
  CManualEvent ev;
  EXPECT_FALSE(ev.Wait(0));
  ev.Set();
  EXPECT_TRUE(ev.Wait(0));
  EXPECT_TRUE(ev.Wait(0));
  ev.Reset();
  EXPECT_FALSE(ev.Wait(0));
}

TEST(CEvent, WaitTimesOutNoEarlierThanAskedAndWakesWhenSetElsewhere) {
  CEvent ev;
  const auto start = Clock::now();
  EXPECT_FALSE(ev.Wait(60));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ev.Set();
  });
  EXPECT_TRUE(ev.Wait(platform::kInfinite));
  setter.join();
}

TEST(CEvent, WaitAnyReturnsTheFirstSignalledIndexAndConsumesOnlyThatOne) {
  CEvent a, b, c;
  CEvent* list[3] = {&a, &b, &c};
  EXPECT_EQ(-1, CEvent::WaitAny(list, 3, 0));
  c.Set();
  b.Set();
  EXPECT_EQ(1, CEvent::WaitAny(list, 3, 0));
  EXPECT_EQ(2, CEvent::WaitAny(list, 3, 0));
  EXPECT_EQ(-1, CEvent::WaitAny(list, 3, 20));
}

TEST(CEvent, WaitAnyLeavesAManualEventSignalled) {
  CManualEvent stop;
  CEvent item;
  CEvent* list[2] = {&stop, &item};
  stop.Set();
  item.Set();
  EXPECT_EQ(0, CEvent::WaitAny(list, 2, 0));
  EXPECT_EQ(0, CEvent::WaitAny(list, 2, 0));
  stop.Reset();
  EXPECT_EQ(1, CEvent::WaitAny(list, 2, 0)) << "the item signal was not consumed by the earlier waits";
}

TEST(CEvent, WaitAnyWakesForAnEventSetLater) {
  CEvent a, b;
  CEvent* list[2] = {&a, &b};
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    b.Set();
  });
  EXPECT_EQ(1, CEvent::WaitAny(list, 2, 10000));
  setter.join();
}

TEST(CEvent, WaitAnyRefusesNullListsAndEntries) {
  CEvent a;
  a.Set();
  CEvent* withNull[2] = {&a, nullptr};
  EXPECT_EQ(-1, CEvent::WaitAny(nullptr, 1, 0));
  EXPECT_EQ(-1, CEvent::WaitAny(nullptr, 0, platform::kInfinite));
  EXPECT_EQ(-1, CEvent::WaitAny(withNull, 2, platform::kInfinite));
  EXPECT_EQ(-1, CEvent::WaitAny(withNull, 0, platform::kInfinite));
  EXPECT_TRUE(a.Wait(0));
}

TEST(CEvent, WaitAnyAcceptsAsManyEventsAsWin32) {
  std::vector<CEvent> events(64);
  std::vector<CEvent*> list;
  for (auto& e : events) list.push_back(&e);
  events[63].Set();
  EXPECT_EQ(63, CEvent::WaitAny(list.data(), 64, 0));
}

TEST(CEvent, AutoResetSignalReleasesExactlyOneOfSeveralWaiters) {
  CEvent item;
  CManualEvent done;
  std::atomic<int> gotItem{0};
  std::atomic<int> returned{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      CEvent* list[2] = {&item, &done};
      if (CEvent::WaitAny(list, 2, 20000) == 0) ++gotItem;
      ++returned;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most are waiting by now; either way only one may win
  item.Set();
  while (gotItem == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  done.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(1, gotItem.load());
  EXPECT_EQ(4, returned.load());
}

}  // namespace
}  // namespace norvale
