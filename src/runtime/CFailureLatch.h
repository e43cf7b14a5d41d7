#pragma once
// Logs a run of failures once: the first failure after a success (or after the start) is the one the
// caller reports; the failures after it stay quiet until a success ends the run. Safe to use from
// several threads at once.
#include <atomic>

namespace norvale {

class CFailureLatch {
 public:
  // Records a failure; true only for the first failure of a run, the one to log.
  bool Fail() { return !failing_.exchange(true); }
  // Records a success: the run of failures, if any, is over.
  void Succeed() { failing_ = false; }
  bool Failing() const { return failing_; }

 private:
  std::atomic<bool> failing_{false};
};

}  // namespace norvale
