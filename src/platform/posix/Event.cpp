// Events with Win32 semantics. The signalled state is one atomic flag per event, so setting an event
// nobody waits for, or looking at one without waiting, takes no lock at all. A thread that has to
// sleep registers a waiter of its own (a semaphore and a poked flag) with every event it watches;
// setting an event pokes exactly the waiters registered with it. Events share no lock.
//
// Wake-ups cannot be lost: a waiter first counts itself in (waiterCount) and then looks at the
// flags, a setter first raises its flag and then looks at the count (both sequentially consistent),
// so either the waiter sees the flag or the setter sees the waiter and pokes it.
//
// A setter pokes after it has let go of the event's list lock: the woken thread, which runs at once
// on a busy machine, then never finds that lock held when it takes itself off the list. The waiter
// is shared between its thread and the setters that hold it, so a poke never reaches a waiter that
// has already gone. The sleep is a semaphore wait: one system call on each side, and a point where
// a thread that is being terminated ends.
#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {
struct Waiter {
  sem_t sem;
  std::atomic<bool> poked{false};

  Waiter() { sem_init(&sem, 0, 0); }
  ~Waiter() { sem_destroy(&sem); }
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  // One post per sleep at most: further pokes before the waiter looks again are folded into it.
  void Poke() {
    if (!poked.exchange(true)) sem_post(&sem);
  }
};

// Pokes the setter holds on to while it has let go of the list lock; more waiters than this on one
// event (rare: one thread usually waits for an event) are poked under the lock.
constexpr size_t kPokesOutsideLock = 4;
}  // namespace

struct Event {
  bool manual = false;
  std::atomic<bool> signalled{false};
  std::atomic<int> waiterCount{0};
  std::mutex m;                                  // guards waiters
  std::vector<std::shared_ptr<Waiter>> waiters;  // registered sleepers
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

timespec Deadline(uint32_t ms) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long ns = now.tv_nsec + static_cast<long long>(ms % 1000) * 1000000LL;
  timespec at{};
  at.tv_sec = now.tv_sec + static_cast<time_t>(ms / 1000) + static_cast<time_t>(ns / 1000000000LL);
  at.tv_nsec = static_cast<long>(ns % 1000000000LL);
  return at;
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
  std::shared_ptr<Waiter> poke[kPokesOutsideLock];
  size_t n = 0;
  {
    std::lock_guard<std::mutex> lock(ev->m);
    for (const auto& w : ev->waiters) {
      if (n < kPokesOutsideLock)
        poke[n++] = w;
      else
        w->Poke();
    }
  }
  for (size_t i = 0; i < n; ++i) poke[i]->Poke();
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

  std::shared_ptr<Waiter> self = std::make_shared<Waiter>();
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
        w.erase(std::remove_if(w.begin(), w.end(), [this](const auto& p) { return p.get() == self; }), w.end());
        ev->waiterCount.fetch_sub(1);
      }
    }
  } registration{events, count, self.get()};
  for (int i = 0; i < count; ++i) {
    Event* ev = events[i];
    std::lock_guard<std::mutex> lock(ev->m);
    ev->waiters.push_back(self);
    ev->waiterCount.fetch_add(1);
    registration.registered = i + 1;
  }

  // A wait without limit is a series of hour-long timed waits: one kind of wait for both. (A thread
  // terminated inside sem_wait leaves the thread sanitizer blind to the rest of that thread, its
  // unwinding included; inside sem_clockwait it does not.)
  constexpr uint32_t kLongWaitMs = 3600000;
  timespec deadline = Deadline(ms == kInfinite ? kLongWaitMs : ms);
  while ((index = TakeFirst(events, count)) < 0) {
    const int r = sem_clockwait(&self->sem, CLOCK_MONOTONIC, &deadline);
    if (r != 0 && errno == ETIMEDOUT) {
      if (ms == kInfinite) {
        deadline = Deadline(kLongWaitMs);
        continue;
      }
      index = TakeFirst(events, count);
      break;
    }
    // Woken (or interrupted): later pokes post again once the flag is down.
    self->poked.store(false);
  }
  return index;
}

}  // namespace norvale::platform
