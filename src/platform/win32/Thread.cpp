// Threads through the C runtime (_beginthreadex). Termination is first cooperative: the thread's
// cancel event makes its next wait in the seam throw ThreadCancellation, so its stack unwinds and
// scoped locks are released. Only a thread that still runs after the grace time (it never reached a
// wait of the seam) is ended with the system's TerminateThread, which unwinds nothing.
#include <process.h>

#include <atomic>
#include <exception>
#include <new>

#include "platform/Guard.h"
#include "platform/Platform.h"
#include "platform/win32/Cancellation.h"

namespace norvale::platform {

struct Thread {
  HANDLE handle = nullptr;
  HANDLE cancel = nullptr;  // manual reset; set by TerminateThread
  uint32_t id = 0;
  ThreadEntry entry = nullptr;
  void* arg = nullptr;
  bool delivered = false;             // the thread's own: the cancellation was thrown
  std::atomic<int> refs{2};           // the creator's handle and the running thread
  std::atomic<bool> threadRef{true};  // the running thread's reference is still held
};

namespace {
constexpr DWORD kGraceMs = 2000;
constexpr DWORD kKillWaitMs = 5000;

thread_local Thread* tlsCurrent = nullptr;

void Release(Thread* t) {
  if (t->refs.fetch_sub(1) == 1) {
    CloseHandle(t->cancel);
    delete t;
  }
}

// The running thread's reference goes once, whether it ends itself or is killed.
void ReleaseThreadRef(Thread* t) {
  if (t->threadRef.exchange(false)) Release(t);
}

unsigned __stdcall Trampoline(void* p) {
  auto* t = static_cast<Thread*>(p);
  tlsCurrent = t;
  try {
    t->entry(t->arg);
  } catch (ThreadCancellation&) {
    // Terminated: the stack has unwound; the thread ends here.
  }
  tlsCurrent = nullptr;
  ReleaseThreadRef(t);
  return 0;
}
}  // namespace

namespace cancellation {
HANDLE WatchedEvent() {
  Thread* t = tlsCurrent;
  // During unwinding a throw would end the process, so those waits do not watch.
  if (!t || t->delivered || std::uncaught_exceptions() > 0) return nullptr;
  return t->cancel;
}

void Deliver() {
  if (tlsCurrent) tlsCurrent->delivered = true;
  throw ThreadCancellation{};
}

bool Requested() {
  const HANDLE cancel = WatchedEvent();
  return cancel && WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0;
}

void ThrowIfRequested() {
  if (Requested()) Deliver();
}
}  // namespace cancellation

Thread* StartThread(ThreadEntry entry, void* arg, uint32_t* id) {
  auto* t = new (std::nothrow) Thread;
  if (!t) return nullptr;
  t->entry = entry;
  t->arg = arg;
  t->cancel = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!t->cancel) {
    delete t;
    return nullptr;
  }
  unsigned threadId = 0;
  // Suspended until handle and id are stored, so the thread can always be told by its handle.
  const uintptr_t handle = _beginthreadex(nullptr, 0, &Trampoline, t, CREATE_SUSPENDED, &threadId);
  if (handle == 0) {
    CloseHandle(t->cancel);
    delete t;
    return nullptr;
  }
  t->handle = reinterpret_cast<HANDLE>(handle);
  t->id = threadId;
  if (id) *id = threadId;
  ResumeThread(t->handle);
  return t;
}

bool WaitThread(Thread* t, uint32_t ms) {
  if (!t) return true;
  HANDLE handles[2] = {t->handle, cancellation::WatchedEvent()};
  const DWORD count = handles[1] ? 2 : 1;
  const DWORD r = WaitForMultipleObjects(count, handles, FALSE, ms);
  if (r == WAIT_OBJECT_0) return true;
  if (count == 2 && r == WAIT_OBJECT_0 + 1) cancellation::Deliver();
  return false;
}

bool TerminateThread(Thread* t, bool* killed) {
  if (killed) *killed = false;
  if (!t) return true;
  if (WaitForSingleObject(t->handle, 0) == WAIT_OBJECT_0) return true;
  ::SetEvent(t->cancel);
  // A thread terminating itself unwinds at this wait (as a deferred cancellation does).
  if (WaitThread(t, kGraceMs)) return true;
  if (t->id == GetCurrentThreadId()) return false;
  // Last resort: it never reached a wait of the seam (a loop that does not wait, a call outside
  // the seam). Nothing of its stack unwinds.
  if (!::TerminateThread(t->handle, 0)) return false;
  if (killed) *killed = true;
  const bool ended = WaitForSingleObject(t->handle, kKillWaitMs) == WAIT_OBJECT_0;
  if (ended) ReleaseThreadRef(t);
  return ended;
}

void CloseThread(Thread* t) {
  if (!t) return;
  CloseHandle(t->handle);
  t->handle = nullptr;
  Release(t);
}

bool IsCurrentThread(const Thread* t) { return t && t->id == GetCurrentThreadId(); }

void TestCancel() { cancellation::ThrowIfRequested(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMs(uint32_t ms) {
  const HANDLE cancel = cancellation::WatchedEvent();
  if (!cancel) {
    Sleep(ms);
    return;
  }
  if (WaitForSingleObject(cancel, ms) == WAIT_OBJECT_0) cancellation::Deliver();
}

}  // namespace norvale::platform
