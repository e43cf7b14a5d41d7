// Win32 events. Every wait also watches the calling thread's cancel event (see Cancellation.h); it
// is placed after the caller's events, so a signalled event of the caller always wins over it. A
// list that fills all 64 places leaves none for it: that wait looks at it between slices.
#include <algorithm>
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

namespace {
// How often a wait on a full list (no place left for the cancel event) looks at the cancel event.
constexpr DWORD kCancelSliceMs = 50;

DWORD WaitWatchingCancel(DWORD count, HANDLE* handles, uint32_t ms, HANDLE cancel) {
  if (count < MAXIMUM_WAIT_OBJECTS) {
    handles[count] = cancel;
    return WaitForMultipleObjects(count + 1, handles, FALSE, ms);
  }
  const DWORD start = static_cast<DWORD>(TickCount());
  for (;;) {
    const DWORD elapsed = static_cast<DWORD>(TickCount()) - start;
    const DWORD left = ms == kInfinite ? kInfinite : (elapsed >= ms ? 0 : ms - elapsed);
    const DWORD r = WaitForMultipleObjects(count, handles, FALSE, std::min<DWORD>(left, kCancelSliceMs));
    if (r != WAIT_TIMEOUT) return r;
    if (WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0) return WAIT_OBJECT_0 + count;
    if (left <= kCancelSliceMs) return WAIT_TIMEOUT;
  }
}
}  // namespace

int WaitAnyEvent(Event* const* events, int count, uint32_t ms) {
  if (!events || count <= 0 || count > MAXIMUM_WAIT_OBJECTS) return -1;
  // The system refuses a list naming one event twice: each event is waited for once, under the
  // first index it has in the caller's list.
  HANDLE handles[MAXIMUM_WAIT_OBJECTS + 1];
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
  const DWORD r =
      cancel ? WaitWatchingCancel(unique, handles, ms, cancel) : WaitForMultipleObjects(unique, handles, FALSE, ms);
  if (r < WAIT_OBJECT_0 + unique) return indexOf[r - WAIT_OBJECT_0];
  if (cancel && r == WAIT_OBJECT_0 + unique) cancellation::Deliver();
  return -1;
}

}  // namespace norvale::platform
