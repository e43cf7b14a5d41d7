// Terminating a thread of the seam: it leaves whatever wait of the seam it is blocked in by unwinding,
// so its destructors run and its catch-alls let the unwinding pass; a thread that never waits is
// dealt with as far as the platform can.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/Guard.h"
#include "platform/Platform.h"
#include "platform/Socket.h"

namespace norvale::platform {
namespace {

struct Blocked {
  std::function<void()> wait;  // does not come back unless the thread is terminated
  std::atomic<bool> waiting{false};
  std::atomic<bool> unwound{false};
  std::atomic<bool> returned{false};
};

void RunBlocked(void* arg) {
  auto* b = static_cast<Blocked*>(arg);
  struct Unwind {
    Blocked* b;
    ~Unwind() { b->unwound = true; }
  } unwind{b};
  b->waiting = true;
  b->wait();
  b->returned = true;
}

TEST(PlatformTermination, EveryWaitOfTheSeamUnwindsATerminatedThread) {
  Event* never = CreateEvent(true);
  Event* neverEither = CreateEvent(false);
  const SocketHandle quiet = CreateUdpSocket();
  ASSERT_TRUE(Bind(quiet, IPv4Address(127, 0, 0, 1), 0));
  Waker* waker = CreateWaker();
  ASSERT_NE(nullptr, waker);
  Event* both[2] = {never, neverEither};
  const struct {
    const char* what;
    std::function<void()> wait;
  } cases[] = {
      {"event", [&] { WaitEvent(never, kInfinite); }},
      {"any of several events", [&] { WaitAnyEvent(both, 2, kInfinite); }},
      {"sleep", [] { SleepMs(600000); }},
      {"socket", [&] { WaitReadable(quiet, kInfinite); }},
      {"socket or waker",
       [&] {
         bool woken = false;
         WaitReadable(quiet, waker, kInfinite, &woken);
       }},
      {"blocking read",
       [&] {
         char buffer[16];
         ReceiveFrom(quiet, buffer, sizeof buffer, nullptr, nullptr);
       }},
      {"guarded body", [&] { Guarded([&] { return WaitEvent(never, kInfinite); }, false); }},
      {"catch-all that lets it pass",
       [&] {
         try {
           WaitEvent(never, kInfinite);
         }
         ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
       }},
  };
  for (const auto& c : cases) {
    Blocked blocked;
    blocked.wait = c.wait;
    Thread* t = StartThread(&RunBlocked, &blocked, nullptr);
    ASSERT_NE(nullptr, t) << c.what;
    while (!blocked.waiting) SleepMs(1);
    bool killed = true;
    EXPECT_TRUE(TerminateThread(t, &killed)) << c.what;
    EXPECT_FALSE(killed) << c.what << ": ended by unwinding, not killed";
    EXPECT_TRUE(blocked.unwound) << c.what;
    EXPECT_FALSE(blocked.returned) << c.what << ": the wait must not come back as if it had ended";
    CloseThread(t);
  }
  DestroyWaker(waker);
  CloseSocket(quiet);
  DestroyEvent(neverEither);
  DestroyEvent(never);
}

struct CleansUpWithWaits {
  Event* ev;
  std::atomic<bool> waiting{false};
  std::atomic<bool> cleanedUp{false};
};

TEST(PlatformTermination, WaitsDuringTheUnwindingWaitNormally) {
  // A destructor that stops something of its own waits while the thread unwinds: those waits must
  // neither throw again (that ends the process) nor be cut short.
  CleansUpWithWaits shared{CreateEvent(true)};
  Thread* t = StartThread(
      [](void* arg) {
        auto* s = static_cast<CleansUpWithWaits*>(arg);
        struct Cleanup {
          CleansUpWithWaits* s;
          ~Cleanup() {
            SleepMs(1);
            if (!WaitEvent(s->ev, 20)) s->cleanedUp = true;
          }
        } cleanup{s};
        s->waiting = true;
        WaitEvent(s->ev, kInfinite);
      },
      &shared, nullptr);
  ASSERT_NE(nullptr, t);
  while (!shared.waiting) SleepMs(1);
  EXPECT_TRUE(TerminateThread(t));
  EXPECT_TRUE(shared.cleanedUp);
  CloseThread(t);
  DestroyEvent(shared.ev);
}

struct Spinner {
  std::atomic<bool> started{false};
  std::atomic<bool> release{false};
};

TEST(PlatformTermination, AThreadThatNeverWaitsIsEndedAsFarAsThePlatformCan) {
  Spinner spinner;
  Thread* t = StartThread(
      [](void* arg) {
        auto* s = static_cast<Spinner*>(arg);
        s->started = true;
        while (!s->release) std::this_thread::yield();
      },
      &spinner, nullptr);
  ASSERT_NE(nullptr, t);
  while (!spinner.started) SleepMs(1);
  bool killed = false;
  const bool ended = TerminateThread(t, &killed);
#ifdef _WIN32
  EXPECT_TRUE(ended);
  EXPECT_TRUE(killed) << "after the grace time the thread is ended outright, and the caller told so";
  EXPECT_TRUE(WaitThread(t, 0));
#else
  EXPECT_FALSE(ended) << "a deferred cancellation cannot reach a thread that never waits";
  EXPECT_FALSE(killed);
  spinner.release = true;
  EXPECT_TRUE(WaitThread(t, kInfinite));
#endif
  CloseThread(t);
}

}  // namespace
}  // namespace norvale::platform
