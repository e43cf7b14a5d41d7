// Threads on pthreads. Termination is pthread_cancel (deferred): the thread unwinds at its next
// cancellation point, running destructors, so scoped locks are released on the way out.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "platform/Platform.h"

namespace norvale::platform {

struct Thread {
  pthread_t handle{};
  ThreadEntry entry = nullptr;
  void* arg = nullptr;
  std::atomic<uint32_t> id{0};
  std::mutex m;
  std::condition_variable done_cv;
  std::atomic<bool> done{false};  // written under m; atomic so a cancelled thread's last write stays ordered
  std::atomic<int> refs{2};       // the creator's handle and the running thread
};

namespace {
void Release(Thread* t) {
  if (t->refs.fetch_sub(1) == 1) delete t;
}

void* Trampoline(void* p) {
  auto* t = static_cast<Thread*>(p);
  {
    std::lock_guard<std::mutex> lock(t->m);
    t->id = CurrentThreadId();
  }
  t->done_cv.notify_all();
  // Marks the thread finished however it ends: by returning or by being cancelled.
  struct Finish {
    Thread* t;
    ~Finish() {
      {
        std::lock_guard<std::mutex> lock(t->m);
        t->done = true;
      }
      t->done_cv.notify_all();
      Release(t);
    }
  } finish{t};
  t->entry(t->arg);
  return nullptr;
}
}  // namespace

Thread* StartThread(ThreadEntry entry, void* arg, uint32_t* id) {
  auto* t = new (std::nothrow) Thread;
  if (!t) return nullptr;
  t->entry = entry;
  t->arg = arg;
  if (pthread_create(&t->handle, nullptr, &Trampoline, t) != 0) {
    delete t;
    return nullptr;
  }
  // The id is stored by the thread itself as its first action; wait for it so the caller always
  // gets the real id (Win32 hands it out with the handle). The wait is no place to be terminated: a
  // caller unwound here would never hand the handle to the object the new thread runs on, and would
  // free that object under it.
  {
    int state = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    {
      std::unique_lock<std::mutex> lock(t->m);
      t->done_cv.wait(lock, [t] { return t->id != 0 || t->done.load(); });
    }
    pthread_setcancelstate(state, nullptr);
  }
  if (id) *id = t->id;
  return t;
}

bool WaitThread(Thread* t, uint32_t ms) {
  if (!t) return true;
  std::unique_lock<std::mutex> lock(t->m);
  if (ms == kInfinite) {
    t->done_cv.wait(lock, [t] { return t->done.load(); });
    return true;
  }
  return t->done_cv.wait_for(lock, std::chrono::milliseconds(ms), [t] { return t->done.load(); });
}

bool TerminateThread(Thread* t, bool* killed) {
  // pthreads cannot end a thread without unwinding it: a thread that ignores the request runs on.
  if (killed) *killed = false;
  if (!t) return true;
  {
    std::lock_guard<std::mutex> lock(t->m);
    if (t->done) return true;
  }
  pthread_cancel(t->handle);
  return WaitThread(t, 2000);
}

void CloseThread(Thread* t) {
  if (!t) return;
  bool finished;
  {
    std::lock_guard<std::mutex> lock(t->m);
    finished = t->done;
  }
  if (finished)
    pthread_join(t->handle, nullptr);
  else
    pthread_detach(t->handle);
  Release(t);
}

bool IsCurrentThread(const Thread* t) { return t && pthread_equal(t->handle, pthread_self()); }

void TestCancel() { pthread_testcancel(); }

uint32_t CurrentThreadId() {
  // Asked on every lock operation: the kernel is asked once per thread.
  thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

void SleepMs(uint32_t ms) {
  // clock_nanosleep rather than nanosleep: the thread sanitizer follows a thread terminated inside it.
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
  }
}

}  // namespace norvale::platform
