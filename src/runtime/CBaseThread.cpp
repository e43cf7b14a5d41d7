#include "runtime/CBaseThread.h"

#include "platform/Guard.h"

namespace norvale {

CBaseThread::CBaseThread(IDriver* driver) : driver_(driver) {}

CBaseThread::~CBaseThread() { FinalStop(2000); }

void CBaseThread::Entry(void* self) {
  auto* thread = static_cast<CBaseThread*>(self);
  { RecursiveLockGuard gate(thread->startGate_); }
  try {
    thread->ThreadBody();
  } catch (platform::ThreadCancellation&) {
    throw;  // termination: let the unwinder finish the thread
  } catch (...) {
    // Nothing escapes a worker thread.
  }
}

bool CBaseThread::IsRunning() const {
  RecursiveLockGuard guard(handleLock_);
  return handle_ && !platform::WaitThread(handle_, 0);
}

bool CBaseThread::HasThread() const {
  RecursiveLockGuard guard(handleLock_);
  return handle_ != nullptr;
}

bool CBaseThread::IsCurrentThread() const {
  RecursiveLockGuard guard(handleLock_);
  return handle_ && platform::IsCurrentThread(handle_);
}

bool CBaseThread::StartThread(const std::string& name) {
  RecursiveLockGuard control(controlLock_);
  // A thread that is still alive keeps its (set) stop event: it must never see it reset.
  if (IsRunning()) return false;
  stopEvent_.Reset();
  RecursiveLockGuard gate(startGate_);
  uint32_t id = 0;
  {
    RecursiveLockGuard guard(handleLock_);
    if (handle_) {
      platform::CloseThread(handle_);
      handle_ = nullptr;
    }
    name_ = name;
    handle_ = platform::StartThread(&CBaseThread::Entry, this, &id);
    id_ = id;
    return handle_ != nullptr;
  }
}

bool CBaseThread::JoinThread(uint32_t ms) { return FinishStop(ms, false); }

bool CBaseThread::StopThread(uint32_t ms) { return FinishStop(ms, true); }

bool CBaseThread::FinishStop(uint32_t ms, bool terminate) {
  stopEvent_.Set();
  if (IsCurrentThread()) return false;
  RecursiveLockGuard control(controlLock_);
  // Again under the lock: a start that took the lock first has reset it and runs a new thread,
  // which is the one this stop is for.
  stopEvent_.Set();
  platform::Thread* handle;
  {
    RecursiveLockGuard guard(handleLock_);
    handle = handle_;
  }
  // Only a start, stop or join closes the handle, and they are serialised by the control lock.
  if (!handle) return true;
  if (!platform::WaitThread(handle, ms)) {
    if (terminate) {
      OnStopOverdue(Overdue::Terminating, ms);
      bool killed = false;
      if (!platform::TerminateThread(handle, &killed)) {
        // Blocked where termination cannot reach it. It keeps its handle (and its object), so it
        // is neither freed under itself nor joined by a second thread of this object.
        OnStopOverdue(Overdue::NotTerminated, ms);
        return false;
      }
      if (killed) OnStopOverdue(Overdue::Killed, ms);
    } else {
      const std::string device = driver_ ? driver_->GetDeviceName() : std::string();
      if (driver_)
        driver_->Log(LogWarning,
                     "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds",
                     "norvale::CBaseThread::JoinThread", id_.load(), name_.c_str(), device.c_str(),
                     static_cast<unsigned long>(ms));
      platform::WaitThread(handle, platform::kInfinite);
      if (driver_)
        driver_->Log(LogInfo, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                     "norvale::CBaseThread::JoinThread", id_.load(), name_.c_str());
    }
  }
  RecursiveLockGuard guard(handleLock_);
  platform::CloseThread(handle_);
  handle_ = nullptr;
  return true;
}

void CBaseThread::OnStopOverdue(Overdue stage, uint32_t ms) {
  if (!driver_) return;
  const std::string device = driver_->GetDeviceName();
  static const char* const kFunction = "norvale::CBaseThread::StopThread";
  switch (stage) {
    case Overdue::Terminating:
      driver_->Log(LogWarning,
                   "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds and will "
                   "be terminated!",
                   kFunction, id_.load(), name_.c_str(), device.c_str(), static_cast<unsigned long>(ms));
      break;
    case Overdue::NotTerminated:
      driver_->Log(LogError, "%s: Thread (id=%u, name=\"%s\") for device %s could not be terminated and still runs",
                   kFunction, id_.load(), name_.c_str(), device.c_str());
      break;
    case Overdue::Killed:
      driver_->Log(LogError,
                   "%s: Thread (id=%u, name=\"%s\") for device %s did not reach a point where it could stop and was "
                   "killed without cleaning up",
                   kFunction, id_.load(), name_.c_str(), device.c_str());
      break;
  }
}

void CBaseThread::FinalStop(uint32_t ms) {
  if (IsCurrentThread()) {
    // The object is destroyed by its own thread (the last owner of what it runs on): let the
    // handle go; the thread ends on its own.
    stopEvent_.Set();
    RecursiveLockGuard guard(handleLock_);
    platform::CloseThread(handle_);
    handle_ = nullptr;
    return;
  }
  if (StopThread(ms)) return;
  if (driver_)
    driver_->Log(LogError, "%s: Waiting for thread (id=%u, name=\"%s\") for device %s to end before it is freed",
                 ZEPHRIN_FUNCTION, id_.load(), name_.c_str(), driver_->GetDeviceName().c_str());
  JoinThread(platform::kInfinite);
}

}  // namespace norvale
