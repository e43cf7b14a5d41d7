#pragma once
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "runtime/CEvent.h"
#include "runtime/IDriver.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// A named worker thread stopped cooperatively through a manual-reset stop event, with a time limit
// after which it is waited for without limit (JoinThread) or terminated (StopThread).
// A derived class whose body uses its own members must stop the thread in its own destructor.
class CBaseThread {
 public:
  explicit CBaseThread(IDriver* driver = nullptr);
  virtual ~CBaseThread();                          // slot 0: stops with 2000 ms
  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  virtual bool StartThread(const std::string& name);  // slot 1
  virtual bool JoinThread(uint32_t ms);               // slot 2
  virtual bool StopThread(uint32_t ms);               // slot 3
  bool StopThread() { return StopThread(5000); }

  bool IsRunning() const;
  bool IsCurrentThread() const;
  uint32_t ThreadId() const { return id_; }
  const std::string& ThreadName() const { return name_; }
  CManualEvent& StopEvent() { return stopEvent_; }
  bool StopRequested() { return stopEvent_.Wait(0); }

 protected:
  virtual void ThreadBody() = 0;  // slot 4
  IDriver* Driver() const { return driver_; }

 private:
  static void Entry(void* self);
  bool FinishStop(uint32_t ms, bool terminate);

  // Held by StartThread until handle, id and name are stored; the new thread passes through it
  // before its body runs, so a body that stops or joins itself sees its own handle.
  RecursiveLock startGate_;
  std::string name_;
  platform::Thread* handle_ = nullptr;
  uint32_t id_ = 0;
  IDriver* driver_;
  CManualEvent stopEvent_;
};

}  // namespace norvale
