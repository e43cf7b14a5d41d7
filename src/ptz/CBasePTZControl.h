#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "host/HostInterfaces.h"
#include "ptz/CBasePTZComm.h"
#include "ptz/CPrepositionList.h"
#include "ptz/CXMLPrepositionReader.h"
#include "ptz/IIPParams.h"
#include "runtime/IDriver.h"
#include "runtime/TSmartPtr.h"

namespace norvale {

// The host's PTZ control of one camera channel: checks and queues commands through the channel's
// communicator (created by the camera family), keeps the activity flags StopAll needs, and serves the
// channel's presets. Every operation of a control without communicator returns PTZ_Failed.
class CBasePTZControl : public ipcapture::IIPPTZApiEx, public IIPParams {
 public:
  CBasePTZControl(IDriver* driver, int32_t channel);
  ~CBasePTZControl() override;  // closes, then destroys the preset list

  // IIPPTZApi
  int32_t HasPTZ() override;
  int32_t StartMove(int32_t direction, int32_t speed) override;
  int32_t StopAll() override;
  int32_t Center(int32_t a, int32_t b, int32_t c) override;
  int32_t ZoomIn(int32_t speed) override;
  int32_t ZoomOut(int32_t speed) override;
  int32_t Unzoom(int32_t value) override;
  int32_t AreaZoom(int32_t a, int32_t b, int32_t c, int32_t d) override;
  int32_t StartFocusPositive(int32_t speed) override;
  int32_t StartFocusNegative(int32_t speed) override;
  int32_t StartIrisPositive(int32_t speed) override;
  int32_t StartIrisNegative(int32_t speed) override;
  int32_t GetCapabilities(ipcapture::PTZCapabilityRecord* record) override;
  int32_t GetPresetCount() override;
  int32_t GetPresetName(uint32_t index, char* buffer, uint32_t size) override;
  int32_t GotoPreset(int32_t value, const char* name) override;
  int32_t AddPreset(const char* name) override;
  int32_t RemovePreset(const char* name) override;
  int32_t GetCurrentPresetName(char* buffer, uint32_t size) override;
  // IIPPTZApiEx
  bool IsVersionSupported(int32_t version) override;

  virtual void Close();                                        // slot 21
  virtual CBasePTZComm* CreateComm() = 0;                      // slot 22
  virtual bool Open(TSmartPtr<CXMLPrepositionReader> reader);  // slot 23

  // IIPParams
  int32_t GetChannel() override { return channel_; }
  bool GetFlagA() override { return flagA_; }
  void SetFlagA(bool value) override { flagA_ = value; }
  bool GetManualFocus() override { return manualFocus_; }
  void SetManualFocus(bool manual) override { manualFocus_ = manual; }

  CBasePTZComm* Comm() const { return comm_; }

 protected:
  IDriver* Driver() const { return driver_; }

 private:
  // After a command the camera accepted the camera is no longer at a preset.
  int32_t Moved(int32_t status, std::atomic<bool>* activity = nullptr);
  int32_t CopyName(bool found, const std::string& name, char* buffer, uint32_t size);

  IDriver* driver_;
  int32_t channel_;
  CBasePTZComm* comm_ = nullptr;
  CPrepositionList presets_;
  std::atomic<bool> flagA_{false};
  std::atomic<bool> manualFocus_{false};
  std::atomic<bool> zooming_{false};
  std::atomic<bool> focusing_{false};
  std::atomic<bool> iris_{false};
  std::atomic<bool> moving_{false};
};

}  // namespace norvale
