#pragma once
#include <atomic>
#include <cstdint>

namespace norvale {

// The way into the host objects a driver object was opened with (its log sink and frame allocator).
// Every call into them passes the gate. A driver deleted while one of its threads is still held in
// the host closes it: from then on nothing reaches those objects, which the host may free once its
// delete has returned, and a call that was inside the host returns to a closed gate.
class CHostGate {
 public:
  // Enters the gate; false (and not entered) once it is closed. Every true is followed by one Leave.
  bool Enter();
  void Leave();
  bool IsClosed() const { return closed_.load(); }
  // Closes the gate and waits at most ms for the callers inside to leave; false when one still is
  // (held in the host).
  bool Close(uint32_t ms);

  // One call through the gate: entered on construction unless closed, left on destruction.
  class Passage {
   public:
    explicit Passage(CHostGate& gate) : gate_(gate), entered_(gate.Enter()) {}
    ~Passage() {
      if (entered_) gate_.Leave();
    }
    Passage(const Passage&) = delete;
    Passage& operator=(const Passage&) = delete;
    explicit operator bool() const { return entered_; }

   private:
    CHostGate& gate_;
    bool entered_;
  };

 private:
  // Sequentially consistent, both: a caller that counted itself in either sees the gate closed or is
  // seen inside by Close.
  std::atomic<int32_t> inside_{0};
  std::atomic<bool> closed_{false};
};

}  // namespace norvale
