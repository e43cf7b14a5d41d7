#pragma once
#include <map>
#include <string>

#include "driver/CIPCaptureDriver.h"
#include "runtime/RecursiveLock.h"
#include "runtime/TSmartPtr.h"
#include "videosettings/IVideoSettingsManager.h"

namespace norvale {

// The driver object of this camera family: names the driver, creates the family's digital I/O
// object, PTZ handler, video settings managers and RTSP channels, and writes the opening line.
class CWendrickDriver : public CIPCaptureDriver {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CWendrickDriver);
  CWendrickDriver();
  ~CWendrickDriver() override;

  bool Open(ipcapture::LogSink* log, ipcapture::FrameAllocator* allocator, ipcapture::DeviceSource* device) override;
  void Close() override;
  bool CreateIOApi() override;
  bool CreatePTZDriver() override;
  void LogDriverOpened(const std::string& firmware) override;
  std::string GetDriverName() override { return "Zephrin"; }

  ICameraChannel* CreateChannel(uint32_t camera, ipcapture::FrameSink* sink, int32_t codec) override;

  // The camera's video settings manager; empty when it has none.
  TSmartPtr<IVideoSettingsManager> GetVideoSettingsManager(uint32_t camera);

 private:
  void CreateVideoSettingsManagers();
  void ReleaseVideoSettingsManagers();

  // Guards the per-camera video settings managers, which channel threads look up while the host may
  // close the driver.
  RecursiveLock lock_;
  std::map<uint32_t, TSmartPtr<IVideoSettingsManager>> settingsManagers_;
};

}  // namespace norvale
