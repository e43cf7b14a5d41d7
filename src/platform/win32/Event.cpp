// Win32 events. Every wait also watches the calling thread's cancel event (see Cancellation.h); it
// is placed after the caller's events, so a signalled event of the caller always wins over it.
#include <new>

#include "platform/Platform.h"
#include "platform/win32/Cancellation.h"

namespace norvale::platform {

struct Event {
  HANDLE handle = nullptr;
};

Event* CreateEvent(bool manualReset) {
  const HANDLE handle = ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
  if (!handle) return nullptr;
  auto* ev = new (std::nothrow) Event;
  if (!ev) {
    CloseHandle(handle);
    return nullptr;
  }
  ev->handle = handle;
  return ev;
}

void DestroyEvent(Event* ev) {
  if (!ev) return;
  CloseHandle(ev->handle);
  delete ev;
}

void SetEvent(Event* ev) {
  if (ev) ::SetEvent(ev->handle);
}

void ResetEvent(Event* ev) {
  if (ev) ::ResetEvent(ev->handle);
}

bool WaitEvent(Event* ev, uint32_t ms) {
  Event* list[1] = {ev};
  return ev && WaitAnyEvent(list, 1, ms) == 0;
}

int WaitAnyEvent(Event* const* events, int count, uint32_t ms) {
  // One place is kept for the cancel event.
  if (!events || count <= 0 || count >= MAXIMUM_WAIT_OBJECTS) return -1;
  // The system refuses a list naming one event twice: each event is waited for once, under the
  // first index it has in the caller's list.
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  int indexOf[MAXIMUM_WAIT_OBJECTS];
  DWORD unique = 0;
  for (int i = 0; i < count; ++i) {
    if (!events[i]) return -1;
    bool seen = false;
    for (DWORD j = 0; j < unique && !seen; ++j) seen = handles[j] == events[i]->handle;
    if (seen) continue;
    handles[unique] = events[i]->handle;
    indexOf[unique++] = i;
  }
  const HANDLE cancel = cancellation::WatchedEvent();
  const DWORD total = cancel ? unique + 1 : unique;
  if (cancel) handles[unique] = cancel;
  const DWORD r = WaitForMultipleObjects(total, handles, FALSE, ms);
  if (r < WAIT_OBJECT_0 + unique) return indexOf[r - WAIT_OBJECT_0];
  if (cancel && r == WAIT_OBJECT_0 + unique) cancellation::Deliver();
  return -1;
}

}  // namespace norvale::platform
