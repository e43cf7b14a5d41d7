#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "channels/ICameraChannel.h"
#include "host/HostInterfaces.h"
#include "platform/Platform.h"
#include "runtime/CEvent.h"
#include "runtime/CTime.h"
#include "runtime/IDriver.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// One video stream of one camera, delivered to one host frame sink: keeps the stream request, owns
// the capture thread with a bounded stop, keeps the channel state and the online flag, and writes the
// online and offline lines. The capture thread body and the network work come from the derived
// channels.
//
// A derived class whose capture thread uses its own members must call Stop() in its own destructor:
// by the time this destructor runs those members are gone.
class CBaseCameraChannel : public ICameraChannel {
 public:
  CBaseCameraChannel(uint32_t camera, IDriver* driver);
  ~CBaseCameraChannel() override;
  CBaseCameraChannel(const CBaseCameraChannel&) = delete;
  CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

  // ---- ICameraChannel ----
  bool Start(const ChannelSettings* settings) override;
  void Stop() override;
  void Silence() override;
  // Takes the new request but keeps the running quality (stream value 2).
  bool Restart(const ChannelSettings* settings) override;
  bool Query5() override { return false; }
  bool Query6() override { return false; }
  int32_t GetState() override;

  // Writes the online line, or the offline line that fits the state, when the flag changes.
  void SetCameraState(bool online);

  bool IsOnline();
  uint32_t CameraIndex() const { return camera_; }
  // The stream request as it stands (a copy).
  ChannelSettings Settings();

 protected:
  virtual void CaptureThreadBody() = 0;  // slot 8: runs on the capture thread
  virtual void AbortCapture() {}         // slot 9: called before waiting for the capture thread to end

  void SetState(int32_t state);
  // "camera <address>" or, on a device with several cameras, "video-server <address> (channel <n>)";
  // capitalised for the state lines.
  std::string CameraText(bool capital);
  IDriver* Driver() const { return driver_; }
  // From a start until the next stop begins: whether the host's frame sink may still be called. A
  // thread held in the host while the channel stops calls it no more once it comes back.
  bool Delivering() const { return delivering_.load(std::memory_order_acquire); }
  CManualEvent& StopEvent();
  bool StopRequested() { return StopEvent().Wait(0); }
  CTime& LastFrameTime() { return lastFrame_; }

 private:
  class CaptureThread;

  bool StartThread();
  void StopThread();
  bool StartSockets();
  void StopSockets();

  RecursiveLock stateLock_;  // state, online flag and settings
  int32_t state_ = ChannelStopped;
  bool online_ = false;
  ChannelSettings settings_;
  std::atomic<bool> delivering_{false};

  RecursiveLock threadLock_;  // serialises starting and stopping the capture thread
  bool socketsStarted_ = false;

  uint32_t camera_;
  IDriver* driver_;
  const std::unique_ptr<CaptureThread> thread_;
  CTime lastFrame_;
};

}  // namespace norvale
