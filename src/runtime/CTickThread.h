#pragma once
#include <atomic>

#include "runtime/CBaseThread.h"

namespace norvale {

// Calls Tick every period until stopped; optionally once at start.
class CTickThread : public CBaseThread {
 public:
  explicit CTickThread(IDriver* driver = nullptr, uint32_t periodMs = 1500) : CBaseThread(driver), period_(periodMs) {}

  bool StartWithTick(const std::string& name) {
    tickAtStart_ = true;
    return StartThread(name);
  }
  void SetPeriod(uint32_t ms) { period_ = ms; }
  uint32_t Period() const { return period_; }

 protected:
  void ThreadBody() override;  // slot 4
  virtual void Tick() = 0;     // slot 5

 private:
  std::atomic<uint32_t> period_;  // may be changed while the thread runs
  bool tickAtStart_ = false;
};

}  // namespace norvale
