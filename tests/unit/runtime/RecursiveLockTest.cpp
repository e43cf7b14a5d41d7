// The driver's one lock: re-entrant for its owner, exclusive against everyone else.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/CBaseThread.h"
#include "runtime/RecursiveLock.h"

namespace norvale {
namespace {

bool TryLockFromAnotherThread(RecursiveLock& lock) {
  bool acquired = false;
  std::thread other([&] {
    acquired = lock.TryLock();
    if (acquired) lock.Unlock();
  });
  other.join();
  return acquired;
}

TEST(RecursiveLock, OwnerMayTakeItAgainAndOthersWaitUntilTheLastUnlock) {
  RecursiveLock lock;
  lock.Lock();
  lock.Lock();
  EXPECT_TRUE(lock.TryLock());
  EXPECT_FALSE(TryLockFromAnotherThread(lock));
  lock.Unlock();
  EXPECT_FALSE(TryLockFromAnotherThread(lock));
  lock.Unlock();
  EXPECT_FALSE(TryLockFromAnotherThread(lock));
  lock.Unlock();
  EXPECT_TRUE(TryLockFromAnotherThread(lock));
  EXPECT_TRUE(lock.TryLock());
  lock.Unlock();
}

TEST(RecursiveLock, GuardReleasesOnScopeExitAndOnException) {
  RecursiveLock lock;
  {
    RecursiveLockGuard outer(lock);
    RecursiveLockGuard inner(lock);
    EXPECT_FALSE(TryLockFromAnotherThread(lock));
  }
  EXPECT_TRUE(TryLockFromAnotherThread(lock));
  try {
    RecursiveLockGuard guard(lock);
    throw 1;
  } catch (int) {
  }
  EXPECT_TRUE(TryLockFromAnotherThread(lock));
}

TEST(RecursiveLock, BlockedLockerGetsTheLockOnlyAfterRelease) {
  RecursiveLock lock;
  std::atomic<bool> released{false};
  std::atomic<bool> sawReleased{false};
  std::atomic<bool> trying{false};
  lock.Lock();
  std::thread waiter([&] {
    trying = true;
    RecursiveLockGuard guard(lock);
    sawReleased = released.load();
  });
  while (!trying) std::this_thread::yield();
  platform::SleepMs(30);  // the waiter is spinning or asleep on the event by now
  released = true;
  lock.Unlock();
  waiter.join();
  EXPECT_TRUE(sawReleased);
}

// A timed locker (a host call that refuses when the camera stays busy) gives up without holding the
// lock and without taking a sleeping locker's wake-up; it gets a lock freed during its wait.
TEST(RecursiveLock, TimedLockerGivesUpCleanlyOrGetsALockFreedInTime) {
  RecursiveLock lock;
  lock.Lock();
  std::atomic<bool> waiterIn{false};
  std::thread waiter([&] {
    RecursiveLockGuard guard(lock);
    waiterIn = true;
  });
  bool timed = true;
  std::thread([&] { timed = lock.LockFor(40); }).join();
  EXPECT_FALSE(timed);
  EXPECT_FALSE(waiterIn);
  lock.Unlock();
  waiter.join();
  EXPECT_TRUE(waiterIn);

  lock.Lock();
  std::thread later([&] {
    timed = lock.LockFor(10000);
    if (timed) lock.Unlock();
  });
  platform::SleepMs(30);
  lock.Unlock();
  later.join();
  EXPECT_TRUE(timed);
  EXPECT_TRUE(TryLockFromAnotherThread(lock));
}

TEST(RecursiveLock, ContendedCounterIsExact) {
  RecursiveLock lock;
  long counter = 0;  // deliberately unsynchronised apart from the lock
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        RecursiveLockGuard guard(lock);
        if ((i + t) % 3 == 0) {
          RecursiveLockGuard again(lock);
          ++counter;
        } else {
          ++counter;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(static_cast<long>(kThreads) * kRounds, counter);
}

TEST(RecursiveLock, TryLockUnderContentionNeverLetsTwoIn) {
  RecursiveLock lock;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<long> successes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        if (!lock.TryLock()) continue;
        if (inside.fetch_add(1) != 0) ++overlaps;
        inside.fetch_sub(1);
        ++successes;
        lock.Unlock();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, overlaps.load());
  EXPECT_GT(successes.load(), 0);
}

TEST(RecursiveLock, SpinsOnlyOnAMultiProcessorMachine) {
  EXPECT_EQ(platform::ProcessorCount() > 1 ? 4000u : 0u, RecursiveLock::SpinCount());
  EXPECT_EQ(RecursiveLock::SpinCount(), RecursiveLock::SpinCount());
}

TEST(RecursiveLock, WaiterTerminatedInLockLeavesTheLockUsable) {
  RecursiveLock lock;
  class Waiter : public CBaseThread {
   public:
    explicit Waiter(RecursiveLock& lock) : lock_(lock) {}
    ~Waiter() override { StopThread(100); }
    std::atomic<bool> trying{false};

   protected:
    void ThreadBody() override {
      trying = true;
      RecursiveLockGuard guard(lock_);
    }

   private:
    RecursiveLock& lock_;
  };
  lock.Lock();
  {
    Waiter waiter(lock);
    ASSERT_TRUE(waiter.StartThread("waiter"));
    while (!waiter.trying) std::this_thread::yield();
    platform::SleepMs(50);               // asleep in Lock by now (or still spinning; either must be undone)
    EXPECT_TRUE(waiter.StopThread(50));  // terminated inside Lock
  }
  lock.Unlock();
  EXPECT_TRUE(TryLockFromAnotherThread(lock));
  EXPECT_TRUE(lock.TryLock());
  lock.Unlock();
  // And it still excludes: a second waiter gets it only after release.
  lock.Lock();
  std::atomic<bool> got{false};
  std::thread other([&] {
    RecursiveLockGuard guard(lock);
    got = true;
  });
  platform::SleepMs(30);
  EXPECT_FALSE(got);
  lock.Unlock();
  other.join();
  EXPECT_TRUE(got);
}

}  // namespace
}  // namespace norvale
