#pragma once
#include <cstdint>

#include "runtime/RecursiveLock.h"

namespace norvale {

// A point in time on the system clock (100-ns units, UTC, as a file time), set to now on construction.
class CTime {
 public:
  CTime();
  virtual ~CTime() = default;

  void Reset();
  // Milliseconds since the stored time, 0 if it is not in the past.
  uint32_t Elapsed();
  uint64_t Get();
  void Set(uint64_t fileTime);

 private:
  RecursiveLock lock_;
  uint64_t time_;
};

}  // namespace norvale
