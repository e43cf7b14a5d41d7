// Events with Win32 semantics on std::mutex/std::condition_variable. All events share one mutex so a
// waiter can watch several at once; each waiter brings its own condition variable, registered with
// every event it watches, so that a set wakes exactly the threads waiting on that event.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {
std::mutex& EventMutex() {
  static std::mutex m;
  return m;
}
struct Waiter {
  std::condition_variable cv;
};
}  // namespace

struct Event {
  bool manual = false;
  bool signalled = false;
  std::vector<Waiter*> waiters;
};

Event* CreateEvent(bool manualReset) {
  auto* ev = new (std::nothrow) Event;
  if (ev) ev->manual = manualReset;
  return ev;
}

void DestroyEvent(Event* ev) { delete ev; }

void SetEvent(Event* ev) {
  if (!ev) return;
  std::lock_guard<std::mutex> lock(EventMutex());
  ev->signalled = true;
  for (Waiter* w : ev->waiters) w->cv.notify_one();
}

void ResetEvent(Event* ev) {
  if (!ev) return;
  std::lock_guard<std::mutex> lock(EventMutex());
  ev->signalled = false;
}

bool WaitEvent(Event* ev, uint32_t ms) {
  Event* list[1] = {ev};
  return ev && WaitAnyEvent(list, 1, ms) == 0;
}

int WaitAnyEvent(Event* const* events, int count, uint32_t ms) {
  if (!events || count <= 0) return -1;
  for (int i = 0; i < count; ++i)
    if (!events[i]) return -1;

  std::unique_lock<std::mutex> lock(EventMutex());
  auto firstSignalled = [&]() -> int {
    for (int i = 0; i < count; ++i) {
      if (events[i]->signalled) {
        if (!events[i]->manual) events[i]->signalled = false;
        return i;
      }
    }
    return -1;
  };
  int index = firstSignalled();
  if (index >= 0 || ms == 0) return index;

  Waiter self;
  for (int i = 0; i < count; ++i) events[i]->waiters.push_back(&self);
  // Unregisters also when the thread is cancelled inside the wait (the unwinder runs destructors).
  struct Unregister {
    Event* const* events;
    int count;
    Waiter* self;
    ~Unregister() {
      for (int i = 0; i < count; ++i) {
        auto& w = events[i]->waiters;
        w.erase(std::remove(w.begin(), w.end(), self), w.end());
      }
    }
  } unregister{events, count, &self};

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while ((index = firstSignalled()) < 0) {
    if (ms == kInfinite) {
      self.cv.wait(lock);
    } else if (self.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
      index = firstSignalled();
      break;
    }
  }
  return index;
}

}  // namespace norvale::platform
