#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "ptz/CBasePTZControl.h"
#include "ptz/CIPPTZDriverIf.h"
#include "ptz/CXMLPrepositionReader.h"
#include "runtime/IDriver.h"
#include "runtime/RecursiveLock.h"
#include "runtime/TSmartPtr.h"

namespace norvale {

// The device's PTZ driver: creates one control per channel on first request and keeps it until the
// handler is destroyed; all channels share one preset file reader, created on the first request.
class CBasePTZHandler : public CIPPTZDriverIf {
 public:
  CBasePTZHandler(IDriver* driver, uint32_t channelCount, const std::string& storageRoot);
  virtual ~CBasePTZHandler();

  // Null for a channel out of range, when the control or the preset storage cannot be set up (the
  // next request tries again), or when another request has held the handler longer than the stop limit.
  ipcapture::IIPPTZApiEx* GetPTZApiEx(uint32_t channel) override;  // slot 2
  virtual std::string GetXMLStorageFileName() = 0;                 // slot 3
  virtual CBasePTZControl* CreateControl(uint32_t channel) = 0;    // slot 4
  virtual void ReleaseControls();                                  // slot 5
  virtual bool InitializeXMLStorage();                             // slot 6

 protected:
  IDriver* Driver() const { return driver_; }

 private:
  IDriver* driver_;
  std::map<uint32_t, CBasePTZControl*> controls_;
  uint32_t channelCount_;
  TSmartPtr<CXMLPrepositionReader> reader_;
  std::string storageRoot_;
  // Host threads may ask for controls at the same time.
  RecursiveLock lock_;
};

}  // namespace norvale
