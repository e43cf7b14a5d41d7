#include "runtime/CBaseThread.h"

#include "platform/Guard.h"

namespace norvale {

CBaseThread::CBaseThread(IDriver* driver) : driver_(driver) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

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

bool CBaseThread::IsRunning() const { return handle_ && !platform::WaitThread(handle_, 0); }

bool CBaseThread::IsCurrentThread() const { return handle_ && platform::IsCurrentThread(handle_); }

bool CBaseThread::StartThread(const std::string& name) {
  stopEvent_.Reset();
  if (IsRunning()) return false;
  if (handle_) {
    platform::CloseThread(handle_);
    handle_ = nullptr;
  }
  RecursiveLockGuard gate(startGate_);
  name_ = name;
  handle_ = platform::StartThread(&CBaseThread::Entry, this, &id_);
  return handle_ != nullptr;
}

bool CBaseThread::JoinThread(uint32_t ms) { return FinishStop(ms, false); }

bool CBaseThread::StopThread(uint32_t ms) { return FinishStop(ms, true); }

bool CBaseThread::FinishStop(uint32_t ms, bool terminate) {
  stopEvent_.Set();
  if (!handle_) return true;
  if (IsCurrentThread()) return false;
  if (!platform::WaitThread(handle_, ms)) {
    const std::string device = driver_ ? driver_->GetDeviceName() : std::string();
    if (terminate) {
      if (driver_)
        driver_->Log(LogWarning,
                     "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds and "
                     "will be terminated!",
                     "norvale::CBaseThread::StopThread", id_, name_.c_str(), device.c_str(),
                     static_cast<unsigned long>(ms));
      platform::TerminateThread(handle_);
    } else {
      if (driver_)
        driver_->Log(LogWarning,
                     "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds",
                     "norvale::CBaseThread::JoinThread", id_, name_.c_str(), device.c_str(),
                     static_cast<unsigned long>(ms));
      platform::WaitThread(handle_, platform::kInfinite);
      if (driver_)
        driver_->Log(LogInfo, "%s: Thread (id=%u, name=\"%s\") was stopped correctly", "norvale::CBaseThread::JoinThread",
                     id_, name_.c_str());
    }
  }
  platform::CloseThread(handle_);
  handle_ = nullptr;
  return true;
}

}  // namespace norvale
