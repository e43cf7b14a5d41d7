#include "discovery/CBaseCameraProperties.h"

#include <algorithm>

#include "platform/Platform.h"
#include "runtime/StringUtils.h"

namespace norvale {

void CStreamCapabilities::Clear() {
  codecs.clear();
  frameRates.clear();
  ClearResolutions();
}

void CStreamCapabilities::ClearResolutions() {
  resolutions.clear();
  defaultFrameRate = 0;
  widest_ = 0;
  tallest_ = 0;
}

uint32_t CStreamCapabilities::HighestRate() const { return frameRates.empty() ? 0 : *frameRates.rbegin(); }

bool CStreamCapabilities::AddResolution(uint16_t width, uint16_t height, uint32_t rate) {
  const bool larger = resolutions.empty() || width > widest_ || height > tallest_;
  widest_ = std::max(widest_, width);
  tallest_ = std::max(tallest_, height);
  for (auto& entry : resolutions) {
    if (entry.width == width && entry.height == height) {
      entry.maxRate = std::max(entry.maxRate, rate);
      return larger;
    }
  }
  resolutions.push_back({width, height, rate});
  return larger;
}

bool CStreamCapabilities::ChooseDefaultRate(uint32_t* rate, uint32_t* wanted) const {
  const uint32_t lowerBound = defaultFrameRate != 0 ? defaultFrameRate : HighestRate() / 2;
  if (wanted) *wanted = lowerBound;
  for (uint32_t r : frameRates) {
    if (r != 0 && r >= lowerBound) {
      if (rate) *rate = r;
      return true;
    }
  }
  return false;
}

std::string CStreamCapabilities::CodecsText() const {
  std::vector<std::string> names;
  for (uint32_t codec : codecs) {
    if (codec == CodecSetNumber(PropertyCodec::H264))
      names.emplace_back("h264");
    else if (codec == CodecSetNumber(PropertyCodec::Mpeg4))
      names.emplace_back("mpeg");
    else if (codec == CodecSetNumber(PropertyCodec::Jpeg))
      names.emplace_back("jpeg");
  }
  return Join(names, ",");
}

std::string CStreamCapabilities::ResolutionsText() const {
  const uint32_t highest = HighestRate();
  std::vector<std::string> items;
  for (const auto& entry : resolutions) {
    if (entry.width == 0 || entry.height == 0) continue;
    const uint32_t interval = entry.maxRate != 0 ? PeriodFromRate(entry.maxRate)
                              : highest != 0     ? PeriodFromRate(highest)
                                                 : 40;
    items.push_back(
        FormatString("%ux%u:%u", static_cast<unsigned>(entry.width), static_cast<unsigned>(entry.height), interval));
  }
  return Join(items, ",");
}

std::string CStreamCapabilities::FrameRatesText() const {
  if (frameRates.empty()) return {};
  std::vector<std::string> values;
  for (uint32_t r : frameRates)
    if (r != 0) values.push_back(FormatString("%u", PeriodFromRate(r)));
  uint32_t rate = 0, wanted = 0;
  if (!ChooseDefaultRate(&rate, &wanted)) rate = wanted;
  return FormatString("values=%s;default=%u", Join(values, ",").c_str(), PeriodFromRate(rate));
}

CBaseCameraProperties::CBaseCameraProperties(const DEVICE_INFO& deviceInfo, bool ntsc) : videoStandard(ntsc ? 1 : 0) {
  device.CopyFrom(deviceInfo);
  platform::Version version{};
  if (platform::HostCoreVersion(&version)) {
    hostCore64 = version.major > 6 || (version.major == 6 && version.minor >= 4);
    hostCore61 = version.major > 6 || (version.major == 6 && version.minor >= 1);
  }
}

CBaseCameraProperties::~CBaseCameraProperties() = default;

bool CBaseCameraProperties::ReportFrameRates(ipcapture::CapabilityFrameRateList* list) {
  const CStreamCapabilities& stream = streams[0];
  if (!list || stream.frameRates.empty()) return false;
  for (uint32_t r : stream.frameRates)
    if (r != 0) list->Add(PeriodFromRate(r));
  uint32_t rate = 0;
  if (stream.ChooseDefaultRate(&rate, nullptr)) list->SetDefault(PeriodFromRate(rate));
  return true;
}

bool CBaseCameraProperties::SetPropertyEntry(ipcapture::CapabilitySink* sink, int32_t id, const char* name,
                                             const std::string& value, bool isText) {
  if (id <= 0 || !name || !*name) return true;
  if (!sink) return false;
  ipcapture::CapabilityPropertyItem* item = sink->GetPropertyItem(id);
  if (!item) return false;
  item->SetName(name);
  item->SetFlags(0);
  item->SetValueIsText(isText ? 1 : 0);
  item->SetValue(value.empty() ? "(none)" : value.c_str());
  return true;
}

}  // namespace norvale
