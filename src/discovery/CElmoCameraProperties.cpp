#include "discovery/CElmoCameraProperties.h"

#include <algorithm>
#include <set>

#include "camera/CameraSeries.h"
#include "camera/HUtils.h"
#include "camera/HttpSender.h"
#include "discovery/ElmoParameterList.h"
#include "platform/Platform.h"
#include "runtime/DeviceConfiguration.h"
#include "runtime/HostParameterKeys.h"
#include "runtime/StringUtils.h"
#include "videosettings/CFramerateHelper.h"
#include "videosettings/CXMLDatabaseReader.h"

namespace norvale {

namespace PL = ElmoParameterList;

namespace {
constexpr uint32_t kMaxProbeAnswer = 4096;

bool AnyMechanicalPtz(const CPtzCapabilities& ptz) { return ptz.pan || ptz.tilt || ptz.zoom || ptz.focus || ptz.iris; }
}  // namespace

CElmoCameraProperties::CElmoCameraProperties(const DEVICE_INFO& deviceInfo, bool ntsc)
    : CElmoCameraProperties(deviceInfo, ntsc, nullptr) {}

CElmoCameraProperties::CElmoCameraProperties(const DEVICE_INFO& deviceInfo, bool ntsc,
                                             std::unique_ptr<Web::CBaseHttpSender> sender)
    : CBaseCameraProperties(deviceInfo, ntsc), sender_(std::move(sender)) {
  if (!sender_) sender_ = Web::CreateHttpSender(device);
}

CElmoCameraProperties::~CElmoCameraProperties() = default;

void CElmoCameraProperties::Cancel() {
  if (sender_) sender_->CloseRequest();
}

std::string CElmoCameraProperties::ConfiguredDefaultBrand(const DEVICE_INFO& deviceInfo) {
  std::string directory = platform::ExecutablePath(511);
  const size_t separator = directory.rfind(platform::kPathSeparator);
  if (separator != std::string::npos) directory.resize(separator + 1);
  CDeviceConfiguration configuration;
  configuration.Read(directory, kDriverName, deviceInfo.address, deviceInfo.port);
  return configuration.defaultBrand;
}

bool CElmoCameraProperties::ReadProperties(int32_t& reason) {
  std::string list;
  if (!ReadParameterList(PL::kPropertyGroups, list)) {
    // Nothing usable came back: say why the camera could not be read.
    const uint32_t status = sender_->GetStatusCode();
    reason = status == 0 ? 2 : status == 401 ? 1 : 3;
    return false;
  }
  if (!Parse(list)) {
    // The camera answered; what it said does not describe a camera of the family.
    reason = 3;
    return false;
  }
  std::string ioList;
  if (ReadParameterList(PL::kIOGroups, ioList)) ReadIOCounts(ioList);
  return !StopRequested();
}

bool CElmoCameraProperties::ReadParameterList(const std::string& groups, std::string& out) {
  out.clear();
  if (StopRequested()) return false;
  if (!HUtils::RequestGetString(*sender_, out, std::string(PL::kListPath) + groups) || out.empty()) {
    out.clear();
    return false;
  }
  out = PL::NormaliseLineBreaks(out);
  return true;
}

bool CElmoCameraProperties::Parse(const std::string& list) {
  // Model.
  const std::string shortName = PL::Value(list, "root.Brand.ProdShortName");
  if (shortName.empty() || !mapper_.Map(ConfiguredDefaultBrand(device), PL::Value(list, "root.Brand.Brand"), shortName))
    return Fail("Unable to detect device model");
  brand = mapper_.GetBrand();
  model = mapper_.GetModel();

  // Video standard and firmware.
  videoSources = 1;
  firmware = PL::Value(list, "root.Properties.Firmware.Version");
  videoStandard = PL::IsNtsc(list) ? 1 : 0;

  // Codecs.
  streams[0].codecs = PL::ParseCodecs(list);
  if (streams[0].codecs.empty()) return Fail("Unable to read list of supported video codecs");

  // Resolution configuration.
  const PL::ResolutionConfiguration configuration = PL::ClassifyResolutionConfiguration(list, streams[0].codecs.size());
  secondH264_ = configuration.secondH264;
  if (!configuration.accepted) return Fail(configuration.error);
  if (configuration.seriesIfUnset != 0) mapper_.SetSeriesIfUnset(configuration.seriesIfUnset);
  streamCount = configuration.streams;

  ReadPtz(list);

  if (!ReadStreams(list)) return false;

  if (!series::IsKnown(mapper_.GetSeries())) return Fail("Unable to detect device type");
  return true;
}

void CElmoCameraProperties::ReadPtz(const std::string& list) {
  ptz_ = CPtzCapabilities();
  std::string info;
  if (!StopRequested() && HUtils::RequestGetString(*sender_, info, "/cgi-bin/com/ptz.cgi?info=1")) {
    const PL::PtzInfo abilities = PL::ParsePtzInfo(info);
    ptz_.pan = abilities.pan;
    ptz_.tilt = abilities.tilt;
    ptz_.zoom = abilities.zoom;
    ptz_.areaZoom = abilities.areaZoom;
    ptz_.focus = abilities.focus;
    ptz_.presetCount = abilities.pan && abilities.tilt && abilities.presets ? static_cast<int32_t>(kPresetCount) : 0;
  }
  presetFileName_ = PL::PresetFileName(brand, PL::Value(list, "root.Network.eth0.MACAddress"));

  // A fisheye lens moves nothing: its PTZ is digital and not the camera's PTZ protocol.
  if (series::MayBeFisheye(mapper_.GetSeries()) && AnyMechanicalPtz(ptz_) && !StopRequested()) {
    std::string fisheye;
    if (ReadParameterList(PL::kFisheyeGroups, fisheye) && fisheye.find("Fisheye.F0.View") != std::string::npos)
      ptz_ = CPtzCapabilities();
  }

  if (!presetFileName_.empty() && AnyMechanicalPtz(ptz_)) {
    ptzSupported = true;
  } else {
    presetFileName_.clear();
    ptz_ = CPtzCapabilities();
  }
}

bool CElmoCameraProperties::ReadStreams(const std::string& list) {
  frameRateOption_ =
      !PL::Value(list, "root.Framerate.Mjpeg").empty() || !PL::Value(list, "root.Framerate.H264").empty();
  if (hostCore61 && streamCount >= 2 && ReadMultiStream(list)) return true;
  if (!ReadSingleStreamFrameRates() || !ReadSingleStreamResolutions(list)) return false;
  streamCount = 1;
  return true;
}

bool CElmoCameraProperties::ReadSingleStreamFrameRates() {
  CStreamCapabilities& stream = streams[0];
  stream.frameRates.clear();
  if (frameRateOption_) {
    const uint32_t highest = videoStandard != 0 ? 30 : 25;
    for (uint32_t rate = 1; rate <= highest; ++rate) stream.frameRates.insert(rate);
  } else {
    stream.frameRates =
        CFramerateHelper(static_cast<int32_t>(videoStandard), mapper_.GetSeries(), secondH264_).GetFrameRates();
  }
  if (stream.frameRates.empty()) return Fail("Unable to detect supported frame-rates");
  return true;
}

bool CElmoCameraProperties::ReadSingleStreamResolutions(const std::string& list) {
  CStreamCapabilities& stream = streams[0];
  stream.ClearResolutions();
  supportedResolutions_.clear();

  std::set<std::string> names;
  for (const auto& name : PL::ListValue(list, "root.Properties.Image.Resolution")) names.insert(name);
  switch (mapper_.GetSeries()) {
    case 2:
      names.insert({"1080p", "qvga", "vga"});
      break;
    case 3:
      names.insert("cif");
      break;
    case 4:
      names.insert("1080p");
      break;
    default:
      break;
  }

  const CFramerateHelper helper(static_cast<int32_t>(videoStandard), mapper_.GetSeries(), secondH264_);
  for (const auto& name : names) {
    uint16_t width = 0, height = 0;
    if (!helper.GetResolutionSize(name, width, height)) continue;
    const uint32_t rate = helper.GetMaxFrameRate(name, false);
    if (stream.AddResolution(width, height, rate)) stream.defaultFrameRate = rate;
    supportedResolutions_.push_back(ToLower(name));
  }
  if (stream.resolutions.empty() || supportedResolutions_.empty())
    return Fail("Unable to read list of the supported resolutions");
  return true;
}

bool CElmoCameraProperties::ReadMultiStream(const std::string& list) {
  if (!streams[0].Has(PropertyCodec::H264)) return false;
  const std::set<uint32_t> mainCodecs = streams[0].codecs;
  const std::string supported = PL::Value(list, "root.Properties.Image.Resolution");
  CXMLDatabaseReader database(static_cast<int32_t>(videoStandard));
  const uint32_t fallbackRate = videoStandard != 0 ? 30 : 25;
  bool ok = database.Open(supported, kDriverName);
  const uint32_t count = std::min<uint32_t>(streamCount, 3);
  for (uint32_t index = 0; ok && index < count; ++index) {
    CStreamCapabilities& stream = streams[index];
    stream.Clear();
    uint32_t highest = 0;
    for (const auto& name : database.GetStreamResolutions(index)) {
      uint16_t width = 0, height = 0;
      if (!database.GetResolutionSize(name, width, height)) continue;
      const std::set<uint32_t> rates = database.GetStreamFrameRates(name, index);
      const uint32_t rate = rates.empty() ? fallbackRate : *rates.rbegin();
      if (stream.AddResolution(width, height, rate))
        stream.defaultFrameRate = rates.empty() ? fallbackRate : *rates.begin();
      highest = std::max(highest, rate);
    }
    for (uint32_t rate = 1; rate <= highest; ++rate) stream.frameRates.insert(rate);
    stream.codecs = {CodecSetNumber(PropertyCodec::H264)};
    ok = !stream.resolutions.empty() && !stream.frameRates.empty();
  }
  if (!ok) {
    streams[0].codecs = mainCodecs;
    return false;
  }
  streams[count - 1].codecs = mainCodecs;
  supportedResolutions_ = Split(supported, ",");
  return true;
}

void CElmoCameraProperties::ReadIOCounts(const std::string& list) {
  const uint32_t inputs = PL::PositiveCount(list, "root.Input.NbrOfInputs");
  const uint32_t outputs = PL::PositiveCount(list, "root.Output.NbrOfOutputs");
  if (inputs != 0 && Probe("/cgi-bin/io/input.cgi?check=1") && !StopRequested()) inputCount = inputs;
  if (outputs != 0 && Probe("/cgi-bin/io/output.cgi?check=1") && !StopRequested()) outputCount = outputs;
}

bool CElmoCameraProperties::Probe(const std::string& path) {
  if (StopRequested()) return false;
  Web::HttpRequest request;
  request.path = path;
  std::vector<uint8_t> answer;
  if (sender_->SendRequest(request) && sender_->GetStatusCode() == 200) {
    for (uint32_t available = sender_->GetAvailableSize(); available != 0 && answer.size() < kMaxProbeAnswer;
         available = sender_->GetAvailableSize()) {
      if (StopRequested()) break;
      if (sender_->ReadChunk(answer, std::min<uint32_t>(available, Web::CBaseHttpSender::kChunkSize), false) == 0)
        break;
    }
  }
  sender_->CloseRequest();
  return PL::IsPositiveProbeAnswer(std::string(answer.begin(), answer.end()));
}

bool CElmoCameraProperties::ReportProperties(ipcapture::CapabilitySink* sink) {
  auto number = [](uint32_t value) { return FormatString("%u", value); };
  auto yesNo = [](bool value) { return std::string(value ? "1" : "0"); };
  using namespace hostparam;
  return SetPropertyEntry(sink, kVideoStandard, "Video standard", number(videoStandard), false) &&
         SetPropertyEntry(sink, kCameraSeries, "Camera Series", number(mapper_.GetSeries()), false) &&
         SetPropertyEntry(sink, kFirmwareVersion, "Firmware Version", firmware, true) &&
         SetPropertyEntry(sink, kUnconvertedModel, "Non-Converted Camera Model", mapper_.GetUnconvertedModel(), true) &&
         SetPropertyEntry(sink, kPtzCapabilities, "Camera PTZ Capabilities", ptz_.ToString(), true) &&
         SetPropertyEntry(sink, kPresetFileName, "File Name of Preset XML Storage", presetFileName_, true) &&
         SetPropertyEntry(sink, kSecondH264Stream, "Second H.264 Stream Supported", yesNo(secondH264_), false) &&
         SetPropertyEntry(sink, kSupportedResolutions, "Supported Resolutions", Join(supportedResolutions_, ","),
                          true) &&
         SetPropertyEntry(sink, kFrameRateOption, "Framerate Option Supported", yesNo(frameRateOption_), false);
}

}  // namespace norvale
