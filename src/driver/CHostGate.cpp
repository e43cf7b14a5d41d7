#include "driver/CHostGate.h"

#include "platform/Platform.h"

namespace norvale {

bool CHostGate::Enter() {
  inside_.fetch_add(1);
  if (!closed_.load()) return true;
  inside_.fetch_sub(1);
  return false;
}

void CHostGate::Leave() { inside_.fetch_sub(1); }

bool CHostGate::Close(uint32_t ms) {
  closed_.store(true);
  const uint32_t start = platform::TickCount();
  while (inside_.load() > 0) {
    if (platform::TimeLeft(start, ms) == 0) return false;
    platform::SleepMs(2);
  }
  return true;
}

}  // namespace norvale
