#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "channels/IVideoChannelCreator.h"
#include "driver/CChannelReaper.h"
#include "driver/CGatedFrameAllocator.h"
#include "driver/CHostGate.h"
#include "host/HostInterfaces.h"
#include "platform/Platform.h"
#include "runtime/DeviceInfo.h"
#include "runtime/IDriver.h"

namespace norvale {

// The driver object of one device: what the host opens through the capture-driver interface, and
// the IDriver every other object of the device uses to log and to read the device description and
// the host parameters. The camera family supplies the owned objects through CreateIOApi and
// CreatePTZDriver and names the driver.
class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx5, public IDriver, public IVideoChannelCreator {
 public:
  CIPCaptureDriver();
  ~CIPCaptureDriver() override;
  CIPCaptureDriver(const CIPCaptureDriver&) = delete;
  CIPCaptureDriver& operator=(const CIPCaptureDriver&) = delete;

  // What the library's delete function does with a driver object: closes it and frees it. When a
  // thread of the driver is still held in the host once the stop limit has passed (a callback that
  // blocks), the call returns all the same: the driver then calls none of the host's objects any
  // more and is freed on a thread of its own when the held callback returns.
  static void Delete(CIPCaptureDriver* driver);

  // ---- capture driver (host-facing) ----
  bool Open(ipcapture::LogSink* log, ipcapture::FrameAllocator* allocator, ipcapture::DeviceSource* device) override;
  void Close() override;
  ipcapture::IIPVideoCapture* GetVideoCapture() override { return videoCapture_; }
  ipcapture::ICaptureIOApi* GetIOApi() override { return ioApi_; }
  void* Reserved5() override { return nullptr; }
  ipcapture::IIPPTZDriver* GetPTZDriver() override { return ptzHandler_; }
  void* Reserved7() override { return nullptr; }
  ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override { return videoCapture_; }
  ipcapture::IIPPTZDriverEx* GetPTZDriverEx() override { return ptzHandler_; }
  void* Reserved10() override { return nullptr; }
  void* Reserved11() override { return nullptr; }
  ipcapture::IIPVideoCaptureEx2* GetVideoCaptureEx2() override { return videoCapture_; }

  // The driver's own operations, continuing the primary table.
  virtual bool CreateIOApi() = 0;
  virtual bool CreatePTZDriver() = 0;
  virtual void LogDriverOpened(const std::string& firmware);

  // ---- IDriver ----
  std::string GetDeviceName() override;
  void Log(uint8_t level, const char* format, ...) override NORVALE_PRINTF(3, 4);
  std::string GetDriverName() override = 0;
  std::string GetHostDirectory() override { return hostDirectory_; }
  DEVICE_INFO* GetDeviceInfo() override { return &deviceInfo_; }
  std::pair<int32_t, int32_t> GetCameraValues() override { return {cameraValue1_, cameraValue2_}; }
  ipcapture::FrameAllocator* GetFrameAllocator() override { return allocator_.HasHost() ? &allocator_ : nullptr; }
  int32_t GetVideoStandard() override { return videoStandard_; }
  int32_t GetDefaultCodec() override { return defaultCodec_; }
  int32_t GetCameraCount() override { return cameraCount_; }
  std::string GetStringParam(int32_t key) override;
  int32_t GetIntParam(int32_t key) override;

  // ---- IVideoChannelCreator ----
  ICameraChannel* CreateCompanionChannel(uint32_t camera, ipcapture::FrameSink* sink) override;

  // The host core's product version, which decides how log levels are mapped.
  const platform::Version& HostVersion() const { return hostVersion_; }
  // The level a line of the given level reaches the host with.
  uint8_t HostLevel(uint8_t level) const;

  // Most host parameters one device source may hand over; a source that never ends its list is cut
  // off here.
  static constexpr uint32_t kMaxHostParameters = 1024;

 protected:
  // Close, with the family's own parts to free after the common ones. Every part is stopped and freed
  // on a batch of the reaper: Close waits for them at most the stop limit, and a part whose thread is
  // held in the host (a log line, an input change) is freed when the host lets go of it.
  void CloseWith(std::vector<CChannelReaper::Part> more);
  // Opening line without the unconverted model name; the camera family adds it.
  std::string OpeningLine(const std::string& firmware, const std::string& unconvertedModel);

  std::atomic<ipcapture::LogSink*> logSink_{nullptr};  // read by Log on any thread
  // Every call into the host's log sink and frame allocator passes the gate.
  CHostGate hostGate_;
  CGatedFrameAllocator allocator_{hostGate_};
  std::map<int32_t, std::string> hostParams_;
  platform::Version hostVersion_{5, 12, 0, 0};
  std::string hostDirectory_;
  DEVICE_INFO deviceInfo_;
  int32_t cameraValue1_ = 0;
  int32_t cameraValue2_ = 0;
  int32_t cameraCount_ = 0;
  int32_t defaultCodec_ = 0;
  int32_t videoStandard_ = 0;
  ipcapture::ICaptureIOApi* ioApi_ = nullptr;
  ipcapture::IIPVideoCaptureEx2* videoCapture_ = nullptr;
  ipcapture::IIPPTZDriverEx* ptzHandler_ = nullptr;
  // Stops the channels and parts the host is done with; the most derived destructor waits for it after
  // Close.
  CChannelReaper reaper_{this};

 private:
  bool ReadDeviceSource(ipcapture::DeviceSource* device);
  bool CreateVideoCapture();
};

}  // namespace norvale
