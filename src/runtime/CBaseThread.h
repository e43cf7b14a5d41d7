#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "runtime/CEvent.h"
#include "runtime/IDriver.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// A named worker thread stopped cooperatively through a manual-reset stop event, with a time limit
// after which it is waited for without limit (JoinThread) or terminated (StopThread).
//
// A thread object never has more than one live thread: a thread that outlives its termination keeps
// its handle, StopThread reports false, and StartThread refuses to start another one (leaving the
// stop event set) until it has really ended. The destructor never frees an object whose thread
// still runs: it waits for it. A derived class whose body uses its own members stops the thread in
// its own destructor with FinalStop, before those members go.
class CBaseThread {
 public:
  explicit CBaseThread(IDriver* driver = nullptr);
  virtual ~CBaseThread();  // slot 0: stops with 2000 ms
  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  // False when a thread of this object still runs or the thread cannot be created.
  virtual bool StartThread(const std::string& name);  // slot 1
  virtual bool JoinThread(uint32_t ms);               // slot 2
  // False when called on the thread itself or when the thread still runs after its termination.
  virtual bool StopThread(uint32_t ms);  // slot 3
  bool StopThread() { return StopThread(5000); }

  // Safe from any thread, also while another thread starts or stops this one.
  bool IsRunning() const;
  // A thread was started and not yet collected by a stop or join (it may have ended by itself).
  bool HasThread() const;
  bool IsCurrentThread() const;
  uint32_t ThreadId() const { return id_; }
  const std::string& ThreadName() const { return name_; }
  CManualEvent& StopEvent() { return stopEvent_; }
  bool StopRequested() { return stopEvent_.Wait(0); }

 protected:
  virtual void ThreadBody() = 0;  // slot 4
  // What a stop that ran out of time has come to: the thread is about to be terminated, it could
  // not be terminated (it still runs), or it was killed without cleaning up. Called on the stopping
  // thread; the default writes the thread's own line. An owner that names the thread for the user,
  // or that must settle something before the thread is cut off, writes or does its own.
  enum class Overdue { Terminating, NotTerminated, Killed };
  virtual void OnStopOverdue(Overdue stage, uint32_t ms);
  IDriver* Driver() const { return driver_; }
  // For destructors: StopThread(ms), and if the thread still runs after that, wait without limit
  // (logged) so that nothing it uses is freed under it. On the thread itself, the handle is let go.
  void FinalStop(uint32_t ms);

 private:
  static void Entry(void* self);
  bool FinishStop(uint32_t ms, bool terminate);

  // Held by StartThread until handle, id and name are stored; the new thread passes through it
  // before its body runs, so a body that stops or joins itself sees its own handle.
  RecursiveLock startGate_;
  // One start, stop or join at a time; never held by the thread itself.
  RecursiveLock controlLock_;
  // Guards the handle pointer against being closed while another thread reads it; held briefly.
  mutable RecursiveLock handleLock_;
  std::string name_;
  platform::Thread* handle_ = nullptr;
  std::atomic<uint32_t> id_{0};
  IDriver* driver_;
  CManualEvent stopEvent_;
};

}  // namespace norvale
