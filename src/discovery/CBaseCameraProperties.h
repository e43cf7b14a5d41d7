#pragma once
// What a camera is and can do, as the capability query reports it to the host. A camera family fills
// the record by reading the camera (ReadProperties) and reports its own property entries.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "discovery/PropertyCodec.h"
#include "host/HostInterfaces.h"
#include "runtime/CEvent.h"
#include "runtime/DeviceInfo.h"

namespace norvale {

struct CAudioCapabilities {
  uint32_t channels = 0;
  bool stereo = false;
};

struct CStreamResolution {
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t maxRate = 0;  // highest frame rate at this size; 0: the stream's highest rate applies
};

// One encoder stream: codecs (PropertyCodec numbers), sizes and frame rates.
class CStreamCapabilities {
 public:
  std::set<uint32_t> codecs;
  std::vector<CStreamResolution> resolutions;
  std::set<uint32_t> frameRates;  // frames per second, ascending
  uint32_t defaultFrameRate = 0;  // 0: none

  void Clear();
  // Forgets the sizes and the default frame rate only.
  void ClearResolutions();
  uint32_t HighestRate() const;  // 0 without rates
  bool Has(PropertyCodec codec) const { return codecs.count(CodecSetNumber(codec)) != 0; }
  // Adds a size; a size already listed keeps the higher rate. True when the size is wider or taller
  // than every size added before it (the first one always is).
  bool AddResolution(uint16_t width, uint16_t height, uint32_t rate);
  // The rate offered as default: the smallest rate not below the default frame rate, or below half
  // the highest rate when there is no default. *wanted receives that lower bound.
  bool ChooseDefaultRate(uint32_t* rate, uint32_t* wanted) const;

  // The texts of a live or remote stream's property entries.
  std::string CodecsText() const;       // "h264,mpeg,jpeg" in codec order
  std::string ResolutionsText() const;  // "<w>x<h>:<interval>,..."
  std::string FrameRatesText() const;   // "values=<intervals>;default=<interval>", empty without rates

 private:
  uint16_t widest_ = 0;
  uint16_t tallest_ = 0;
};

class CBaseCameraProperties {
 public:
  CBaseCameraProperties(const DEVICE_INFO& device, bool ntsc);
  CBaseCameraProperties(const CBaseCameraProperties&) = delete;
  CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

  virtual void Cancel() {}                                                  // slot 0
  virtual bool ReportFrameRates(ipcapture::CapabilityFrameRateList* list);  // slot 1
  virtual bool ReportProperties(ipcapture::CapabilitySink* sink) = 0;       // slot 2
  virtual ~CBaseCameraProperties();                                         // slot 3
  // Runs the whole discovery on the calling thread. On failure reason is 1 (credentials refused),
  // 2 (no answer) or 3 (anything else).
  virtual bool ReadProperties(int32_t& reason) = 0;      // slot 4
  virtual std::string GetLastErrorText() { return {}; }  // slot 5

  // Abandons a discovery in progress: it returns false at its next step.
  void Stop() {
    stopEvent.Set();
    Cancel();
  }
  bool StopRequested() { return stopEvent.Wait(0); }

  // One named property entry; an empty text goes out as "(none)". Entries without a positive id or
  // without a name are skipped. False when the sink hands out no item.
  static bool SetPropertyEntry(ipcapture::CapabilitySink* sink, int32_t id, const char* name, const std::string& value,
                               bool isText);

  // The record, read by the capability query after a successful ReadProperties.
  std::string brand;
  std::string model;
  CAudioCapabilities audioInput;
  CAudioCapabilities audioOutput;
  uint32_t genericCapabilityKind = 0;  // 1 or 2
  uint32_t genericCapabilityValue = 0;
  bool hostCore64 = false;  // the host core is 6.4 or newer
  bool hostCore61 = false;  // the host core is 6.1 or newer
  bool ptzSupported = false;
  bool capabilityFlags[3] = {false, false, false};
  DEVICE_INFO device;
  CManualEvent stopEvent;
  std::string firmware;
  uint32_t videoStandard = 0;  // 1 NTSC, 0 PAL
  uint32_t inputCount = 0;
  uint32_t outputCount = 0;
  uint32_t videoSources = 0;
  uint32_t streamCount = 1;
  CStreamCapabilities streams[3];
};

}  // namespace norvale
