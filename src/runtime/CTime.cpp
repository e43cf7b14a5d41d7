#include "runtime/CTime.h"

namespace norvale {

CTime::CTime() : time_(platform::FileTimeNow()) {}

void CTime::Reset() { Set(platform::FileTimeNow()); }

uint32_t CTime::Elapsed() {
  const uint64_t now = platform::FileTimeNow();
  RecursiveLockGuard guard(lock_);
  if (now <= time_) return 0;
  return static_cast<uint32_t>((now - time_) / 10000u);
}

uint64_t CTime::Get() {
  RecursiveLockGuard guard(lock_);
  return time_;
}

void CTime::Set(uint64_t fileTime) {
  RecursiveLockGuard guard(lock_);
  time_ = fileTime;
}

}  // namespace norvale
