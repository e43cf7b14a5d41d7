#pragma once
// The camera properties of the ELMO family (and the e-Vision, Planet and Dynacolor models that
// speak the same CGI interface), read from the camera's parameter list, its PTZ information and
// its I/O CGI.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/CBaseHttpSender.h"
#include "camera/CElmoNameMapper.h"
#include "discovery/CBaseCameraProperties.h"
#include "ptz/CPtzCapabilities.h"

namespace norvale {

class CElmoCameraProperties : public CBaseCameraProperties {
 public:
  static constexpr uint32_t kPresetCount = 256;
  static constexpr const char* kDriverName = "Zephrin";

  CElmoCameraProperties(const DEVICE_INFO& device, bool ntsc);
  // With a sender of the caller's choice (another transport, or a scripted camera).
  CElmoCameraProperties(const DEVICE_INFO& device, bool ntsc, std::unique_ptr<Web::CBaseHttpSender> sender);
  ~CElmoCameraProperties() override;

  void Cancel() override;
  bool ReportProperties(ipcapture::CapabilitySink* sink) override;
  bool ReadProperties(int32_t& reason) override;
  std::string GetLastErrorText() override { return lastError_; }

  // What was found besides the record (valid after a successful ReadProperties).
  const CElmoNameMapper& NameMapper() const { return mapper_; }
  const CPtzCapabilities& PtzAbilities() const { return ptz_; }
  const std::string& PresetFileName() const { return presetFileName_; }
  const std::vector<std::string>& SupportedResolutions() const { return supportedResolutions_; }
  bool SecondH264Stream() const { return secondH264_; }
  bool FrameRateOptionSupported() const { return frameRateOption_; }

  // The brand assumed for cameras that do not name one: the device configuration file's, read from
  // the host's directory for this device.
  static std::string ConfiguredDefaultBrand(const DEVICE_INFO& device);

 private:
  bool ReadParameterList(const std::string& groups, std::string& out);
  bool Parse(const std::string& list);
  void ReadPtz(const std::string& list);
  bool ReadStreams(const std::string& list);
  bool ReadSingleStreamFrameRates();
  bool ReadSingleStreamResolutions(const std::string& list);
  bool ReadMultiStream(const std::string& list);
  void ReadIOCounts(const std::string& list);
  bool Probe(const std::string& path);
  bool Fail(const std::string& text) {
    lastError_ = text;
    return false;
  }

  std::unique_ptr<Web::CBaseHttpSender> sender_;
  std::string lastError_;
  CElmoNameMapper mapper_;
  CPtzCapabilities ptz_;
  std::string presetFileName_;
  std::vector<std::string> supportedResolutions_;
  bool secondH264_ = false;
  bool frameRateOption_ = false;
};

}  // namespace norvale
