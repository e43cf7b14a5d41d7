#include "channels/CBaseCameraChannel.h"

#include <cctype>

#include "platform/SocketLibrary.h"
#include "runtime/CBaseThread.h"
#include "runtime/StringUtils.h"

namespace norvale {

// The capture thread: runs the channel's body and, when a stop runs out of time, names the camera
// in the lines it writes.
class CBaseCameraChannel::CaptureThread : public CBaseThread {
 public:
  explicit CaptureThread(CBaseCameraChannel& channel) : CBaseThread(channel.driver_), channel_(channel) {}

 protected:
  void ThreadBody() override { channel_.CaptureThreadBody(); }
  void OnStopOverdue(Overdue stage, uint32_t) override {
    IDriver* const driver = channel_.driver_;
    if (!driver) return;
    if (stage == Overdue::Terminating)
      driver->Log(LogWarning, "%s: Video capture thread for %s cannot be stopped and will be terminated now",
                  "norvale::CBaseCameraChannel::StopThread", channel_.CameraText(false).c_str());
    else if (stage == Overdue::NotTerminated)
      driver->Log(LogError, "%s: Video capture thread for %s could not be terminated; waiting for it to end",
                  "norvale::CBaseCameraChannel::StopThread", channel_.CameraText(false).c_str());
  }

 private:
  CBaseCameraChannel& channel_;
};

CBaseCameraChannel::CBaseCameraChannel(uint32_t camera, IDriver* driver)
    : camera_(camera), driver_(driver), thread_(std::make_unique<CaptureThread>(*this)) {}

CBaseCameraChannel::~CBaseCameraChannel() { CBaseCameraChannel::Stop(); }

CManualEvent& CBaseCameraChannel::StopEvent() { return thread_->StopEvent(); }

bool CBaseCameraChannel::Start(const ChannelSettings* settings) {
  Stop();
  {
    RecursiveLockGuard guard(stateLock_);
    settings_ = settings ? *settings : ChannelSettings();
  }
  StartSockets();
  delivering_.store(true, std::memory_order_release);
  if (StartThread()) return true;
  Stop();
  return false;
}

void CBaseCameraChannel::Silence() {
  delivering_.store(false, std::memory_order_release);
  StopEvent().Set();
}

void CBaseCameraChannel::Stop() {
  delivering_.store(false, std::memory_order_release);
  SetState(ChannelStopped);
  SetCameraState(false);
  StopThread();
  StopSockets();
}

bool CBaseCameraChannel::Restart(const ChannelSettings* settings) {
  SetState(ChannelStopped);
  // The thread is stopped before the request changes, so that it never reads a half-written one.
  StopThread();
  {
    RecursiveLockGuard guard(stateLock_);
    const int32_t quality = settings_.quality;
    settings_ = settings ? *settings : ChannelSettings();
    settings_.quality = quality;
  }
  delivering_.store(true, std::memory_order_release);
  return StartThread();
}

int32_t CBaseCameraChannel::GetState() {
  RecursiveLockGuard guard(stateLock_);
  return state_;
}

void CBaseCameraChannel::SetState(int32_t state) {
  RecursiveLockGuard guard(stateLock_);
  state_ = state;
}

bool CBaseCameraChannel::IsOnline() {
  RecursiveLockGuard guard(stateLock_);
  return online_;
}

ChannelSettings CBaseCameraChannel::Settings() {
  RecursiveLockGuard guard(stateLock_);
  return settings_;
}

std::string CBaseCameraChannel::CameraText(bool capital) {
  const DEVICE_INFO* device = driver_ ? driver_->GetDeviceInfo() : nullptr;
  const std::string address = device ? device->address : std::string();
  std::string text;
  if (driver_ && driver_->GetCameraCount() > 1)
    text = FormatString("video-server %s (channel %u)", address.c_str(), camera_);
  else
    text = FormatString("camera %s", address.c_str());
  if (capital && !text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

void CBaseCameraChannel::SetCameraState(bool online) {
  int32_t state;
  {
    RecursiveLockGuard guard(stateLock_);
    if (online == online_) return;
    online_ = online;
    state = state_;
  }
  if (!driver_) return;
  static const FunctionName function(__PRETTY_FUNCTION__);  // called for every frame
  if (online) {
    driver_->Log(LogInfo, "%s: %s is online", function.c_str(), CameraText(true).c_str());
  } else if (state == ChannelSignalLost) {
    driver_->Log(LogError, "%s: Signal was lost for %s", function.c_str(), CameraText(false).c_str());
  } else if (state == ChannelStopped) {
    driver_->Log(LogInfo, "%s: %s is offline. Channel was stopped", function.c_str(), CameraText(true).c_str());
  } else {
    driver_->Log(LogError, "%s: %s is offline or failed", function.c_str(), CameraText(true).c_str());
  }
}

bool CBaseCameraChannel::StartThread() {
  // A stop in progress holds the lock; starting then fails at once instead of waiting for it.
  if (!threadLock_.TryLock()) return false;
  // A thread not yet collected (one that stopped its own channel) is collected by the next stop.
  const bool started = !thread_->HasThread() && thread_->StartThread("Video capture");
  threadLock_.Unlock();
  return started;
}

void CBaseCameraChannel::StopThread() {
  thread_->StopEvent().Set();
  RecursiveLockGuard guard(threadLock_);
  if (!thread_->HasThread()) return;
  AbortCapture();
  if (thread_->IsCurrentThread()) return;
  // Blocked where termination cannot reach it (in a host call): the channel it runs on is not
  // freed or restarted under it.
  if (!thread_->StopThread(norvale::StopLimit(driver_))) thread_->JoinThread(platform::kInfinite);
}

bool CBaseCameraChannel::StartSockets() {
  RecursiveLockGuard guard(stateLock_);
  if (!socketsStarted_) socketsStarted_ = platform::StartSocketLibrary();
  return socketsStarted_;
}

void CBaseCameraChannel::StopSockets() {
  RecursiveLockGuard guard(stateLock_);
  if (!socketsStarted_) return;
  platform::StopSocketLibrary();
  socketsStarted_ = false;
}

}  // namespace norvale
