#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "host/HostInterfaces.h"
#include "ptz/CPTZItem.h"
#include "ptz/CPtzCapabilities.h"
#include "ptz/IPrepositionComm.h"
#include "runtime/CQueueThread.h"
#include "runtime/IDriver.h"

namespace norvale {

// The camera-independent PTZ communicator of one channel: refuses commands the camera cannot perform,
// turns the others into CPTZItem records and queues them for its worker thread, which executes them
// one at a time in arrival order (HandleWorkItem, supplied by the camera family). At most
// kMaxWaiting commands wait; a full queue drops its oldest waiting command, never the newest.
class CBasePTZComm : public CQueueThread<CPTZItem>, public IPrepositionComm {
 public:
  static constexpr size_t kMaxWaiting = 16;

  CBasePTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel);
  ~CBasePTZComm() override;

  virtual bool Open();
  virtual bool Close();
  virtual bool HasPTZ();
  // Fills every field of the host's capability record but the first; returns 1.
  virtual int32_t GetCapabilities(ipcapture::PTZCapabilityRecord* record);

  // IDebugMessage: the device's.
  std::string GetDeviceName() override;
  void Log(uint8_t level, const char* format, ...) override NORVALE_PRINTF(3, 4);

  // 1 queued, -19 not supported, -18 not queued.
  int32_t StartMove(IIPParams* params, int32_t direction, int32_t speed);
  int32_t StartIris(IIPParams* params, bool positive, int32_t speed);
  int32_t StartFocus(IIPParams* params, bool positive, int32_t speed);
  int32_t AreaZoom(IIPParams* params, int32_t a, int32_t b, int32_t c, int32_t d);
  int32_t Unzoom(IIPParams* params, int32_t value);
  int32_t Center(IIPParams* params, int32_t a, int32_t b, int32_t c);
  // Queued whatever the camera supports; the camera protocol decides what to send.
  bool StopMoving(IIPParams* params);
  bool StopZooming(IIPParams* params);
  bool StopFocusing(IIPParams* params);
  bool StopIrisChanging(IIPParams* params);

  uint16_t Channel() const { return channel_; }
  const CPtzCapabilities& Capabilities() const { return capabilities_; }
  bool IsOpened() const { return opened_; }

 protected:
  IDriver* DeviceDriver() const { return driver_; }

 private:
  // Builds and queues one command; false after logging when it could not be queued.
  bool Post(int32_t type, int32_t subtype, IIPParams* params, int32_t speed, int32_t extraA, int32_t extraB,
            int32_t extraC, const char* function);
  static int32_t Status(bool queued) { return queued ? ipcapture::PTZ_OK : ipcapture::PTZ_Failed; }

  uint16_t channel_;
  const CPtzCapabilities capabilities_;
  IDriver* driver_;
  std::atomic<bool> opened_{false};
};

}  // namespace norvale
