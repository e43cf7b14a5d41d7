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
    int32_t expected = 0;
    if (lockCount_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
      owner_.store(me, std::memory_order_relaxed);
      recursion_ = 1;
      return true;
    }
    if (owner_.load(std::memory_order_relaxed) == me) {
      lockCount_.fetch_add(1, std::memory_order_acquire);
      ++recursion_;
      return true;
    }
  }
  return false;
}

void RecursiveLock::Lock() {
  if (TryLock()) return;
  const uint32_t me = platform::CurrentThreadId();
  if (lockCount_.fetch_add(1, std::memory_order_acquire) + 1 == 1) {
    owner_.store(me, std::memory_order_relaxed);
    recursion_ = 1;
    return;
  }
  if (owner_.load(std::memory_order_relaxed) == me) {
    ++recursion_;
    return;
  }
  platform::WaitEvent(event_, platform::kInfinite);
  owner_.store(me, std::memory_order_relaxed);
  recursion_ = 1;
}

void RecursiveLock::Unlock() {
  if (--recursion_ > 0) {
    lockCount_.fetch_sub(1, std::memory_order_release);
    return;
  }
  owner_.store(0, std::memory_order_relaxed);
  if (lockCount_.fetch_sub(1, std::memory_order_release) - 1 > 0) platform::SetEvent(event_);
}

}  // namespace norvale
