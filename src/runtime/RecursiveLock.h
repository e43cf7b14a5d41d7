#pragma once
#include <atomic>
#include <cstdint>

#include "platform/Platform.h"

namespace norvale {

// The one lock type of the driver: re-entrant for its owner, spinning briefly on a multi-processor
// machine before it sleeps on an auto-reset event. A thread terminated while it sleeps in Lock
// leaves no trace: the lock count holds only the owner's recursion, and waiters are counted apart.
class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Lock();
  bool TryLock();
  // Waits at most ms for the lock; false (and not held) when it stayed taken.
  bool LockFor(uint32_t ms);
  void Unlock();
  // Whether the calling thread holds the lock (it may be inside a callback made under it).
  bool IsHeldByThisThread() const { return owner_.load(std::memory_order_relaxed) == platform::CurrentThreadId(); }

  // 4000 on a machine with more than one processor, 0 on a single processor.
  static uint32_t SpinCount();

 private:
  platform::Event* event_;
  uint32_t spinCount_;
  std::atomic<int32_t> lockCount_{0};
  std::atomic<uint32_t> owner_{0};
  uint32_t recursion_ = 0;
  std::atomic<int32_t> waiters_{0};  // threads asleep in Lock

  bool TakeFree(uint32_t me);
};

// Scoped holder: every lock/unlock pair in the program is one of these.
class RecursiveLockGuard {
 public:
  explicit RecursiveLockGuard(RecursiveLock& lock) : lock_(lock) { lock_.Lock(); }
  ~RecursiveLockGuard() { lock_.Unlock(); }
  RecursiveLockGuard(const RecursiveLockGuard&) = delete;
  RecursiveLockGuard& operator=(const RecursiveLockGuard&) = delete;

 private:
  RecursiveLock& lock_;
};

// Scoped holder that waits a limited time: Owns() tells whether the lock was taken.
class TimedLockGuard {
 public:
  TimedLockGuard(RecursiveLock& lock, uint32_t ms) : lock_(lock), owns_(lock.LockFor(ms)) {}
  ~TimedLockGuard() {
    if (owns_) lock_.Unlock();
  }
  TimedLockGuard(const TimedLockGuard&) = delete;
  TimedLockGuard& operator=(const TimedLockGuard&) = delete;
  bool Owns() const { return owns_; }

 private:
  RecursiveLock& lock_;
  bool owns_;
};

}  // namespace norvale
