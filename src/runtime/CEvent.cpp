#include "runtime/CEvent.h"

namespace norvale {

CEvent::CEvent(bool manualReset) : handle_(platform::CreateEvent(manualReset)) {}

CEvent::~CEvent() { platform::DestroyEvent(handle_); }

void CEvent::Set() { platform::SetEvent(handle_); }

void CEvent::Reset() { platform::ResetEvent(handle_); }

bool CEvent::Wait(uint32_t ms) { return handle_ && platform::WaitEvent(handle_, ms); }

int CEvent::WaitAny(CEvent* const* events, int count, uint32_t ms) {
  if (!events || count <= 0) return -1;
  platform::Event* handles[kMaxWaitEvents];
  if (count > kMaxWaitEvents) return -1;
  for (int i = 0; i < count; ++i) {
    if (!events[i] || !events[i]->handle_) return -1;
    handles[i] = events[i]->handle_;
  }
  return platform::WaitAnyEvent(handles, count, ms);
}

}  // namespace norvale
