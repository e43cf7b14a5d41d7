// Events with Win32 semantics. The signalled state is one atomic flag per event, so setting an event
// nobody waits for, or looking at one without waiting, takes no lock at all. A thread that has to
// sleep registers a waiter of its own (mutex, condition variable, poked flag) with every event it
// watches; setting an event pokes exactly the waiters registered with it. Events share no lock.
//
// Wake-ups cannot be lost: a waiter first counts itself in (waiterCount) and then looks at the
// flags, a setter first raises its flag and then looks at the count (both sequentially consistent),
// so either the waiter sees the flag or the setter sees the waiter and pokes it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {
struct Waiter {
  std::mutex m;
  std::condition_variable cv;
  bool poked = false;

  void Poke() {
    {
      std::lock_guard<std::mutex> lock(m);
      poked = true;
    }
    cv.notify_one();
  }
};
}  // namespace

struct Event {
  bool manual = false;
  std::atomic<bool> signalled{false};
  std::atomic<int> waiterCount{0};
  std::mutex m;                  // guards waiters
  std::vector<Waiter*> waiters;  // each stays alive while it is in this list
};

namespace {
// Takes the event's signal if it is set: an auto-reset event is consumed by the one who takes it.
bool Take(Event* ev) {
  if (!ev->signalled.load()) return false;
  if (ev->manual) return true;
  bool expected = true;
  return ev->signalled.compare_exchange_strong(expected, false);
}

int TakeFirst(Event* const* events, int count) {
  for (int i = 0; i < count; ++i)
    if (Take(events[i])) return i;
  return -1;
}
}  // namespace

Event* CreateEvent(bool manualReset) {
  auto* ev = new (std::nothrow) Event;
  if (ev) ev->manual = manualReset;
  return ev;
}

void DestroyEvent(Event* ev) { delete ev; }

void SetEvent(Event* ev) {
  if (!ev) return;
  ev->signalled.store(true);
  if (ev->waiterCount.load() == 0) return;
  std::lock_guard<std::mutex> lock(ev->m);
  for (Waiter* w : ev->waiters) w->Poke();
}

void ResetEvent(Event* ev) {
  if (ev) ev->signalled.store(false);
}

bool WaitEvent(Event* ev, uint32_t ms) {
  Event* list[1] = {ev};
  return ev && WaitAnyEvent(list, 1, ms) == 0;
}

int WaitAnyEvent(Event* const* events, int count, uint32_t ms) {
  if (!events || count <= 0) return -1;
  for (int i = 0; i < count; ++i)
    if (!events[i]) return -1;

  int index = TakeFirst(events, count);
  if (index >= 0 || ms == 0) return index;

  Waiter self;
  // Unregisters also when the thread is cancelled inside the wait (the unwinder runs destructors).
  struct Registration {
    Event* const* events;
    int count;
    Waiter* self;
    int registered = 0;
    ~Registration() {
      for (int i = 0; i < registered; ++i) {
        Event* ev = events[i];
        std::lock_guard<std::mutex> lock(ev->m);
        auto& w = ev->waiters;
        w.erase(std::remove(w.begin(), w.end(), self), w.end());
        ev->waiterCount.fetch_sub(1);
      }
    }
  } registration{events, count, &self};
  for (int i = 0; i < count; ++i) {
    Event* ev = events[i];
    std::lock_guard<std::mutex> lock(ev->m);
    ev->waiters.push_back(&self);
    ev->waiterCount.fetch_add(1);
    registration.registered = i + 1;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while ((index = TakeFirst(events, count)) < 0) {
    std::unique_lock<std::mutex> lock(self.m);
    if (ms == kInfinite) {
      self.cv.wait(lock, [&] { return self.poked; });
    } else if (!self.cv.wait_until(lock, deadline, [&] { return self.poked; })) {
      lock.unlock();
      index = TakeFirst(events, count);
      break;
    }
    self.poked = false;
  }
  return index;
}

}  // namespace norvale::platform
