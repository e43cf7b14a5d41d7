#include "runtime/RecursiveLock.h"

namespace norvale {

uint32_t RecursiveLock::SpinCount() {
  static const uint32_t spin = platform::ProcessorCount() > 1 ? 4000u : 0u;
  return spin;
}

RecursiveLock::RecursiveLock() : event_(platform::CreateEvent(false)), spinCount_(SpinCount()) {}

RecursiveLock::~RecursiveLock() { platform::DestroyEvent(event_); }

bool RecursiveLock::TryLock() {
  const uint32_t me = platform::CurrentThreadId();
  for (uint32_t i = 0; i <= spinCount_; ++i) {
    if (TakeFree(me)) return true;
    if (owner_.load(std::memory_order_relaxed) == me) {
      lockCount_.fetch_add(1, std::memory_order_acquire);
      ++recursion_;
      return true;
    }
  }
  return false;
}

bool RecursiveLock::TakeFree(uint32_t me) {
  int32_t expected = 0;
  if (!lockCount_.compare_exchange_strong(expected, 1)) return false;
  owner_.store(me, std::memory_order_relaxed);
  recursion_ = 1;
  return true;
}

void RecursiveLock::Lock() { LockFor(platform::kInfinite); }

bool RecursiveLock::LockFor(uint32_t ms) {
  if (TryLock()) return true;
  const uint32_t me = platform::CurrentThreadId();
  // A waiter is counted only while it sleeps here. If it is terminated in the wait, the unwind takes
  // it off the count and passes on a wake-up it may have been meant to receive, so the free lock
  // stays free for everyone else.
  struct WaiterCount {
    RecursiveLock& lock;
    explicit WaiterCount(RecursiveLock& l) : lock(l) { lock.waiters_.fetch_add(1); }
    ~WaiterCount() {
      if (lock.waiters_.fetch_sub(1) > 1 && lock.lockCount_.load() == 0) platform::SetEvent(lock.event_);
    }
  } counted(*this);
  // Every release that finds a waiter sets the event, and a woken waiter takes the lock only when it
  // is free: a wake-up that finds the lock taken again (or that nobody needed) costs one more round.
  const uint32_t start = platform::TickCount();
  while (!TakeFree(me)) {
    const uint32_t wait = platform::TimeLeft(start, ms);
    if (wait == 0) return false;
    platform::WaitEvent(event_, wait);
  }
  return true;
}

void RecursiveLock::Unlock() {
  if (--recursion_ > 0) {
    lockCount_.fetch_sub(1, std::memory_order_release);
    return;
  }
  owner_.store(0, std::memory_order_relaxed);
  lockCount_.fetch_sub(1);
  if (waiters_.load() > 0) platform::SetEvent(event_);
}

}  // namespace norvale
