#include "camera/CIOBase.h"

#include <algorithm>

#include "runtime/StringUtils.h"

namespace norvale {

namespace {
uint32_t ClampCount(int32_t value) {
  return value <= 0 ? 0u : std::min(static_cast<uint32_t>(value), CIOBase::kMaxIOCount);
}
}  // namespace

CIOBase::TTickThread::TTickThread(CIOBase& owner) : CTickThread(owner.driver_, 1500), owner_(owner) {}

void CIOBase::TTickThread::Tick() { owner_.GetInputStatesWrapper(); }

CIOBase::TOutputHandler::TOutputHandler(CIOBase& owner) : CQueueThread<COutputState>(owner.driver_), owner_(owner) {}

bool CIOBase::TOutputHandler::StopQueue() {
  StopEvent().Set();
  {
    RecursiveLockGuard guard(QueueLock());
    for (COutputState* item : Queue()) delete item;
    Queue().clear();
  }
  return StopThread(5000);
}

void CIOBase::TOutputHandler::HandleWorkItem(COutputState* item) { owner_.ApplyOutputState(item->index, item->state); }

CIOBase::CIOBase(IDriver* driver) : driver_(driver), inputPoller_(*this), outputWorker_(*this) {}

CIOBase::~CIOBase() { StopWorkers(); }

void CIOBase::StopWorkers() {
  // The object is being freed: its threads call the host no more (one already inside stays there).
  sink_.store(nullptr);
  {
    RecursiveLockGuard guard(lock_);
    outputRunning_ = false;
  }
  inputPoller_.StopEvent().Set();
  outputWorker_.StopEvent().Set();
  OnStopIO();
  if (!outputWorker_.StopQueue()) outputWorker_.WaitUntilEnded();
  if (!inputPoller_.StopThread(5000)) inputPoller_.WaitUntilEnded();
}

bool CIOBase::SetCallback(ipcapture::IOSink* sink) {
  if (!sink) return false;
  sink_ = sink;
  return true;
}

uint32_t CIOBase::GetInputCount() { return driver_ ? ClampCount(driver_->GetCameraValues().first) : 0; }

uint32_t CIOBase::GetOutputCount() { return driver_ ? ClampCount(driver_->GetCameraValues().second) : 0; }

std::string CIOBase::ThreadName(const char* kind) {
  const std::string driverName = driver_ ? driver_->GetDriverName() : std::string();
  const std::string device = driver_ ? driver_->GetDeviceName() : std::string();
  return FormatString("Digital %s thread (%s: %s)", kind, driverName.c_str(), device.c_str());
}

void CIOBase::ResetStates() {
  const uint32_t outputs = GetOutputCount();
  const uint32_t inputs = GetInputCount();
  RecursiveLockGuard guard(lock_);
  for (uint32_t i = 0; i < outputs; ++i) outputs_[i] = IOStateUndetermined;
  for (uint32_t i = 0; i < inputs; ++i) inputs_[i] = IOStateUndetermined;
}

bool CIOBase::StartIO() {
  RecursiveLockGuard control(controlLock_);
  ResetStates();
  OnStartIO();
  bool result = true;
  const uint32_t outputs = GetOutputCount();
  if (outputs != 0) {
    const std::string name = ThreadName("Output");
    if (outputWorker_.StartQueue(name)) {
      {
        RecursiveLockGuard guard(lock_);
        outputRunning_ = true;
      }
      // Every output starts switched off.
      for (uint32_t i = 0; i < outputs; ++i) outputWorker_.Push(new COutputState(i, IOStateInactive));
    } else {
      if (driver_) driver_->Log(LogError, "%s: Starting of %s failed!", ZEPHRIN_FUNCTION, name.c_str());
      result = false;
    }
  }
  if (GetInputCount() != 0) {
    const std::string name = ThreadName("Input");
    if (!inputPoller_.StartWithTick(name)) {
      if (driver_) driver_->Log(LogError, "%s: Starting of %s failed!", ZEPHRIN_FUNCTION, name.c_str());
      result = false;
    }
  }
  return result;
}

bool CIOBase::StopIO() {
  RecursiveLockGuard control(controlLock_);
  {
    RecursiveLockGuard guard(lock_);
    outputRunning_ = false;
  }
  inputPoller_.StopEvent().Set();
  outputWorker_.StopEvent().Set();
  OnStopIO();
  bool result = true;
  const std::string device = driver_ ? driver_->GetDeviceName() : std::string();
  if (!outputWorker_.StopQueue()) {
    if (driver_) driver_->Log(LogError, "%s: Stop Output thread failed! Device %s", ZEPHRIN_FUNCTION, device.c_str());
    result = false;
  }
  if (!inputPoller_.StopThread(5000)) {
    if (driver_) driver_->Log(LogError, "%s: Stop Input thread failed! Device %s", ZEPHRIN_FUNCTION, device.c_str());
    result = false;
  }
  ResetStates();
  return result;
}

bool CIOBase::SetOutputState(uint32_t index, uint32_t state) {
  // Nothing is queued for an output the camera does not have or while no worker runs to switch it:
  // such items would only pile up.
  if (index >= GetOutputCount()) return false;
  {
    RecursiveLockGuard guard(lock_);
    if (!outputRunning_) return false;
  }
  return outputWorker_.Push(new COutputState(index, state));
}

void CIOBase::ApplyOutputState(uint32_t index, uint32_t state) {
  {
    RecursiveLockGuard guard(lock_);
    auto it = outputs_.find(index);
    if (it == outputs_.end() || it->second == state) return;
    it->second = state;
  }
  SetOutputStateWrapper(index, state);
}

bool CIOBase::SetOutputStateWrapper(uint32_t index, uint32_t state) {
  if (SetCameraOutput(index, state)) {
    outputFailures_.Succeed();
    return true;
  }
  NotifyFailure();
  const bool log = outputFailures_.Fail();
  if (log && driver_) {
    const DEVICE_INFO* info = driver_->GetDeviceInfo();
    driver_->Log(LogError, "%s: Unable to change output state for device %s (output index %u)", ZEPHRIN_FUNCTION,
                 DeviceName(info).c_str(), index);
  }
  return false;
}

void CIOBase::GetInputStatesWrapper() {
  if (ReadCameraInputs(GetInputCount())) {
    inputFailures_.Succeed();
    return;
  }
  NotifyFailure();
  const bool log = inputFailures_.Fail();
  if (log && driver_) {
    const DEVICE_INFO* info = driver_->GetDeviceInfo();
    driver_->Log(LogError, "%s: GetInputStates() method failed! Device %s", ZEPHRIN_FUNCTION, DeviceName(info).c_str());
  }
}

void CIOBase::NotifyFailure() {
  ResetStates();
  if (ipcapture::IOSink* sink = sink_.load()) sink->IOFailed();
}

void CIOBase::RecordInputState(uint32_t index, uint32_t state) {
  {
    RecursiveLockGuard guard(lock_);
    auto it = inputs_.find(index);
    if (it == inputs_.end() || it->second == state) return;
    it->second = state;
  }
  if (ipcapture::IOSink* sink = sink_.load()) sink->InputStateChanged(index, state);
}

}  // namespace norvale
