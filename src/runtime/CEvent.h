#pragma once
#include <cstdint>

#include "platform/Platform.h"

namespace norvale {

// An unnamed event, not signalled at first; auto-reset unless created for manual reset.
class CEvent {
 public:
  explicit CEvent(bool manualReset = false);
  virtual ~CEvent();
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  void Set();
  void Reset();
  // True if signalled within ms; false on time-out or a missing handle.
  bool Wait(uint32_t ms);
  // As many events as one Win32 wait accepts.
  static constexpr int kMaxWaitEvents = 64;
  // Index of the first signalled event, -1 on time-out, failure, a null list or more than
  // kMaxWaitEvents events.
  static int WaitAny(CEvent* const* events, int count, uint32_t ms);

  platform::Event* Handle() const { return handle_; }

 private:
  platform::Event* handle_;
};

class CManualEvent : public CEvent {
 public:
  CManualEvent() : CEvent(true) {}
};

}  // namespace norvale
