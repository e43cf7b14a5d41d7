#include "driver/CWendrickDriver.h"

#include <new>

#include "camera/CElmoDigitalIO.h"
#include "channels/CH264ChannelRTSP.h"
#include "channels/CMJPEGChannelRTSP.h"
#include "channels/CMPEGChannelRTSP.h"
#include "platform/Guard.h"
#include "ptz/CElmoPTZHandler.h"
#include "runtime/HostParameterKeys.h"
#include "videosettings/CElmoVideoSettingsManager.h"

namespace norvale {

CWendrickDriver::CWendrickDriver() = default;

CWendrickDriver::~CWendrickDriver() {
  CWendrickDriver::Close();
  // Streams still held in the host use this object until they return.
  reaper_.WaitForAll();
}

bool CWendrickDriver::Open(ipcapture::LogSink* log, ipcapture::FrameAllocator* allocator,
                           ipcapture::DeviceSource* device) {
  try {
    if (!CIPCaptureDriver::Open(log, allocator, device)) {
      Close();
      return false;
    }
    const int32_t videoStandard = GetIntParam(hostparam::kVideoStandard);
    if (videoStandard == ParamNotSet) {
      Close();
      return false;
    }
    videoStandard_ = videoStandard;
    deviceInfo_.networkTimeout = 5000;
    deviceInfo_.streamTimeout = 10000;
    CreateVideoSettingsManagers();
    LogDriverOpened(GetStringParam(hostparam::kFirmwareVersion));
    return true;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    Close();
    return false;
  }
}

void CWendrickDriver::Close() {
  auto managers = std::make_shared<std::map<uint32_t, TSmartPtr<IVideoSettingsManager>>>();
  {
    RecursiveLockGuard guard(lock_);
    managers->swap(settingsManagers_);
  }
  // After the streams, which hold managers too: each manager goes with its last shared pointer.
  CloseWith({[managers] { managers->clear(); }});
}

bool CWendrickDriver::CreateIOApi() {
  if (!ioApi_) ioApi_ = new (std::nothrow) CElmoDigitalIO(this);
  return ioApi_ != nullptr;
}

bool CWendrickDriver::CreatePTZDriver() {
  if (!ptzHandler_)
    ptzHandler_ = new (std::nothrow) CElmoPTZHandler(this, cameraCount_ > 0 ? static_cast<uint32_t>(cameraCount_) : 0u);
  return ptzHandler_ != nullptr;
}

void CWendrickDriver::CreateVideoSettingsManagers() {
  ReleaseVideoSettingsManagers();
  std::map<uint32_t, TSmartPtr<IVideoSettingsManager>> managers;
  for (int32_t camera = 0; camera < cameraCount_; ++camera) {
    try {
      managers[static_cast<uint32_t>(camera)] =
          TSmartPtr<IVideoSettingsManager>(new CElmoVideoSettingsManager(this, static_cast<uint32_t>(camera)));
    }
    ZEPHRIN_RETHROW_CANCELLATION catch (...) {
      // That camera streams without a settings manager; its channels cannot prepare the camera.
    }
  }
  RecursiveLockGuard guard(lock_);
  settingsManagers_.swap(managers);
}

void CWendrickDriver::ReleaseVideoSettingsManagers() {
  std::map<uint32_t, TSmartPtr<IVideoSettingsManager>> managers;
  {
    RecursiveLockGuard guard(lock_);
    managers.swap(settingsManagers_);
  }
  // Each manager goes with its last shared pointer; here unless a channel still holds one. Its worker
  // is stopped outside the lock, so channel threads looking managers up are not held up meanwhile.
  managers.clear();
}

TSmartPtr<IVideoSettingsManager> CWendrickDriver::GetVideoSettingsManager(uint32_t camera) {
  RecursiveLockGuard guard(lock_);
  const auto it = settingsManagers_.find(camera);
  return it == settingsManagers_.end() ? TSmartPtr<IVideoSettingsManager>() : it->second;
}

ICameraChannel* CWendrickDriver::CreateChannel(uint32_t camera, ipcapture::FrameSink* sink, int32_t codec) {
  if (!sink) return nullptr;
  if (codec == ipcapture::CodecDefault || codec == ipcapture::CodecDefaultAlt) codec = GetDefaultCodec();
  try {
    const TSmartPtr<IVideoSettingsManager> manager = GetVideoSettingsManager(camera);
    switch (codec) {
      case ipcapture::CodecJPEG:
        return new CMJPEGChannelRTSP(camera, this, sink, manager);
      case ipcapture::CodecMPEG4:
        return new CMPEGChannelRTSP(camera, this, sink, manager);
      case ipcapture::CodecH264:
        return new CH264ChannelRTSP(camera, this, sink, manager);
      default:
        return nullptr;
    }
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return nullptr; }
}

void CWendrickDriver::LogDriverOpened(const std::string& firmware) {
  if (GetDriverName().empty() || deviceInfo_.model.empty()) return;
  Log(norvale::LogDriverOpened, "%s", OpeningLine(firmware, GetStringParam(hostparam::kUnconvertedModel)).c_str());
}

}  // namespace norvale
