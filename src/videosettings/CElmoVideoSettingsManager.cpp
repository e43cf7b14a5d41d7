#include "videosettings/CElmoVideoSettingsManager.h"

#include <algorithm>

#include "camera/CameraSeries.h"
#include "camera/HUtils.h"
#include "camera/HttpSender.h"
#include "runtime/HostParameterKeys.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {

int32_t SeriesParam(IDriver* driver) {
  const int32_t series = driver ? driver->GetIntParam(hostparam::kCameraSeries) : ParamNotSet;
  return series == ParamNotSet ? 0 : series;
}

bool FlagParam(IDriver* driver, int32_t key) { return driver && driver->GetIntParam(key) == 1; }

// Frames per second of a frame period in milliseconds, rounded to nearest; 1 for a period of 0.
uint32_t RateOf(int32_t period) {
  if (period <= 0) return 1;
  const uint32_t p = static_cast<uint32_t>(period);
  return (1000u + p / 2u) / p;
}

std::string Decimal(uint32_t value) { return FormatString("%u", value); }

const char* StreamKindName(int32_t kind) {
  switch (kind) {
    case StreamRecording:
      return "recording";
    case StreamLive:
      return "live";
    case StreamRemote:
      return "remote";
    default:
      return "unknown";
  }
}

}  // namespace

CElmoVideoSettingsManager::CElmoVideoSettingsManager(IDriver* driver, uint32_t camera)
    : CElmoVideoSettingsManager(driver, camera, true) {}

CElmoVideoSettingsManager::CElmoVideoSettingsManager(IDriver* driver, uint32_t camera, bool startWorker)
    : CBaseVideoSettingsManager(driver, camera),
      driver_(driver),
      sender_(Web::CreateHttpSender(driver ? *driver->GetDeviceInfo() : DEVICE_INFO())),
      helper_(driver ? driver->GetVideoStandard() : 0, FlagParam(driver, hostparam::kSecondH264Stream),
              static_cast<uint32_t>(SeriesParam(driver)),
              driver ? driver->GetStringParam(hostparam::kSupportedResolutions) : std::string()),
      database_(driver ? driver->GetVideoStandard() : 0, driver),
      series_(SeriesParam(driver)),
      frameRateOption_(FlagParam(driver, hostparam::kFrameRateOption)),
      secondStreamAllowed_(FlagParam(driver, hostparam::kSecondH264Stream)) {
  // Without its worker every round is refused: the camera's streams then never connect, so say why.
  if (startWorker && !StartWorker(WorkerName()) && driver_)
    driver_->Log(LogError, "%s: %s cannot be started; the camera's streams cannot be prepared", ZEPHRIN_FUNCTION,
                 WorkerName().c_str());
}

std::string CElmoVideoSettingsManager::WorkerName() const {
  const std::string device = driver_ ? driver_->GetDeviceName() : std::string();
  return FormatString("Video Settings Manager thread (device %s, channel %u)", device.c_str(), CameraIndex());
}

CElmoVideoSettingsManager::~CElmoVideoSettingsManager() {
  // The worker runs this class's rounds; it must be gone before the members are.
  StopWorker();
}

void CElmoVideoSettingsManager::OnReset(bool) { configurationRead_ = false; }

void CElmoVideoSettingsManager::CancelWork() {
  if (sender_) sender_->CloseRequest();
}

CResultDef CElmoVideoSettingsManager::RequestGet(const std::string& path, std::string* body) {
  std::vector<uint8_t> bytes;
  CResultDef result = HUtils::RequestGetRD(bytes, *sender_, path, true);
  body->assign(bytes.begin(), bytes.end());
  return result;
}

bool CElmoVideoSettingsManager::Synchronize() {
  const std::string groups =
      std::string("&group=") + kAppearanceGroup + "&group=" + (frameRateOption_ ? "Framerate" : "Frameskip");
  std::string list;
  if (!RequestList(groups, &list)) return false;
  if (!configurationRead_) {
    deviceConfiguration_.Read(driver_);
    configurationRead_ = true;
  }
  std::string request;
  if (!GenerateRequestUri(list, &request)) return false;
  return Update(request);
}

bool CElmoVideoSettingsManager::RequestList(const std::string& groups, std::string* list) {
  const std::string device = driver_->GetDeviceName();
  if (groups.empty()) {
    driver_->Log(LogError, "%s: List of group names is not specified for device %s", ZEPHRIN_FUNCTION, device.c_str());
    return false;
  }
  if (StopRequested()) return false;
  const CResultDef result = RequestGet(kListPath + groups, list);
  if (!result.Succeeded()) {
    result.Report(driver_);
    return false;
  }
  if (list->empty()) {
    driver_->Log(LogError, "%s: Unable to receive video configuration from device %s - the response is empty",
                 ZEPHRIN_FUNCTION, device.c_str());
    return false;
  }
  return true;
}

bool CElmoVideoSettingsManager::Update(const std::string& parameters) {
  if (parameters.empty()) return true;
  if (StopRequested()) return false;
  const std::string path = kUpdatePath + parameters;
  std::string body;
  CResultDef result = RequestGet(path, &body);
  if (result.Succeeded()) result = VerifyResponse(body, path);
  if (!result.Succeeded()) {
    result.Report(driver_);
    return false;
  }
  return true;
}

CResultDef CElmoVideoSettingsManager::VerifyResponse(const std::string& body, const std::string& request) {
  CResultDef result;
  const std::string device = driver_->GetDeviceName();
  if (body.empty()) {
    std::string text = std::string(ZEPHRIN_FUNCTION) + ": Device " + device + " returns empty response";
    if (!request.empty()) text += " for \"" + request + "\" request string";
    text += ".";
    result.SetResult(kEmptyResponse, text);
    return result;
  }
  if (body.find_first_not_of("OK\t\r\n") == std::string::npos) return result;
  std::string text = std::string(ZEPHRIN_FUNCTION) + ": Cannot apply parameters to device " + device;
  if (!request.empty()) text += " using \"" + request + "\" request string";
  text += ". Reason: " + ForLog(body);
  result.SetResult(kRejected, text);
  return result;
}

// ---- terms ------------------------------------------------------------------------------------------

std::string CElmoVideoSettingsManager::ParameterTerm(const std::string& list, const std::string& name,
                                                     const std::string& wanted) {
  if (name.empty()) return {};
  const std::string current = FindParamValue("root." + name, "=", list);
  if (current.empty() || current == wanted) return {};
  return "&" + name + "=" + wanted;
}

bool CElmoVideoSettingsManager::UsesSecondStream(const StreamRecord& record) const {
  return secondStreamAllowed_ && record.codec == ipcapture::CodecH264 &&
         record.settings.streamKind == StreamRecording && record.settings.height < 720;
}

std::string CElmoVideoSettingsManager::GroupName(const StreamRecord& record) const {
  switch (record.codec) {
    case ipcapture::CodecJPEG:
      return "Mjpeg";
    case ipcapture::CodecMPEG4:
      return "Mpeg4";
    case ipcapture::CodecH264:
      switch (record.settings.streamKind) {
        case StreamRecording:
          return UsesSecondStream(record) ? "H264_2" : "H264";
        case StreamLive:
          return "H264_2";
        case StreamRemote:
          return "H264_3";
        default:
          return {};
      }
    default:
      return {};
  }
}

bool CElmoVideoSettingsManager::IsHighResolution(const StreamRecord& record) const {
  const uint16_t width = record.settings.width;
  return series::HasHighResolutionH264Mode(series_) && record.codec == ipcapture::CodecH264 &&
         (width > 1280 || (width == 1280 && record.settings.height >= 960));
}

std::string CElmoVideoSettingsManager::ResolutionName(const StreamRecord& record) const {
  return helper_.GetResolutionName(record.settings.width, record.settings.height);
}

std::string CElmoVideoSettingsManager::QualityTerm(const std::string& list, const StreamRecord& record) const {
  std::string key;
  uint32_t lower = 0;
  uint32_t upper = 0;
  switch (record.codec) {
    case ipcapture::CodecJPEG:
      key = "MjpegQfactor";
      lower = 1;
      upper = 70;
      break;
    case ipcapture::CodecMPEG4:
      key = "Mpeg4Bitrate";
      lower = 64;
      upper = 8000;
      break;
    case ipcapture::CodecH264: {
      const std::string group = GroupName(record);
      if (group.empty()) return {};
      key = group + "Bitrate";
      lower = 64;
      upper = 8000;
      if (series::LimitsH264BitrateWithSecondStream(series_) && secondStreamAllowed_) {
        upper = 4096;
      } else if (IsHighResolution(record)) {
        lower = 4096;
        upper = 8192;
      } else if (series::HasSeveralStreams(series_)) {
        upper = record.settings.streamKind == StreamRecording ? 8192 : 2048;
      }
      break;
    }
    default:
      return {};
  }
  if (lower >= upper) return {};
  const uint32_t q = static_cast<uint32_t>(std::clamp<int32_t>(record.settings.quality, 1, 100));
  const uint32_t value = lower + (q - 1) * (upper - lower) / 99;
  return ParameterTerm(list, std::string(kAppearanceGroup) + "." + key, Decimal(value));
}

std::string CElmoVideoSettingsManager::FrameRateTerm(const std::string& list, const StreamRecord& record,
                                                     uint32_t rate) const {
  const std::string group = GroupName(record);
  if (group.empty() || record.settings.frameInterval == 0) return {};
  return ParameterTerm(list, "Framerate." + group, Decimal(rate));
}

std::string CElmoVideoSettingsManager::FrameSkipTerm(const std::string& list, const StreamRecord& record,
                                                     const FrameSkipEntry& entry) const {
  const std::string group = GroupName(record);
  if (group.empty()) return {};
  const uint32_t option = IsHighResolution(record) ? 0u : entry.skipOption;
  const auto& options = helper_.GetFrameSkipOptions();
  const auto it = std::find(options.begin(), options.end(), option);
  if (it == options.end()) return {};
  return ParameterTerm(list, "Frameskip." + group, Decimal(static_cast<uint32_t>(it - options.begin())));
}

std::string CElmoVideoSettingsManager::KeyFrameTerm(const std::string& list, const StreamRecord& record,
                                                    uint32_t rate) const {
  const std::string group = GroupName(record);
  if (record.codec == ipcapture::CodecJPEG || group.empty()) return {};
  if (IsHighResolution(record)) rate = helper_.GetMaxFrameRate(ResolutionName(record), false);
  if (rate == 0) return {};
  const uint32_t minimum = series::MinKeyFrameInterval(series_, secondStreamAllowed_);
  const std::string name = std::string(kAppearanceGroup) + "." + group + "VideoKeyFrameInterval";
  return ParameterTerm(list, name, Decimal(std::max(rate - 1, minimum)));
}

std::string CElmoVideoSettingsManager::ResolutionTerm(const std::string& list, const StreamRecord& record,
                                                      uint32_t rate) const {
  const std::string name = std::string(kAppearanceGroup) + ".Resolution";
  StreamRequest request;
  request.codec = record.codec;
  request.resolution = ResolutionName(record);
  request.currentSet = FindParamValue("root." + name, "=", list);
  if (request.currentSet == "disable,1080") request.currentSet = "disable,1080p";
  request.frameRate = rate;
  request.secondH264 = UsesSecondStream(record);
  if (request.currentSet.empty() || request.resolution.empty()) return {};
  const std::string set = helper_.SelectResolutionSet(request);
  if (set.empty()) return {};
  return "&" + name + "=" + set;
}

// ---- request generation -------------------------------------------------------------------------------

bool CElmoVideoSettingsManager::GenerateRequestUri(const std::string& parameterList, std::string* request) {
  request->clear();
  const auto records = StreamRecords();
  if (series::HasSeveralStreams(series_)) return GenerateRequestUriForSeveralStreams(parameterList, records, request);
  return GenerateRequestUriForSingleStream(parameterList, records, request);
}

bool CElmoVideoSettingsManager::GenerateRequestUriForSingleStream(const std::string& list,
                                                                  const std::map<int32_t, StreamRecord>& records,
                                                                  std::string* request) {
  const auto it = records.find(StreamRecording);
  // A single-stream camera is set from the recording stream's request. Without one (a live or
  // remote stream alone) the camera keeps its configuration and the stream opens as it is.
  if (it == records.end()) return true;
  const StreamRecord& record = it->second;
  if (record.settings.frameInterval == 0) return false;
  const uint32_t rate = RateOf(record.settings.frameInterval);
  if (frameRateOption_) {
    *request = QualityTerm(list, record) + ResolutionTerm(list, record, rate) + FrameRateTerm(list, record, rate) +
               KeyFrameTerm(list, record, rate);
    return true;
  }
  const uint32_t base =
      series::SkipsFramesFromResolutionRate(series_) ? helper_.GetMaxFrameRate(ResolutionName(record), true) : 0;
  const FrameSkipEntry entry = helper_.FindFrameSkip(rate, base);
  if (entry.rate == 0) {
    const std::string device = driver_->GetDeviceName();
    // The log line keeps the name this function has always had there.
    driver_->Log(LogError, "%s: Unable to calculate frame-skip value for %u fps option for device %s",
                 "norvale::CElmoVideoSettingsManager::GenerateRequestUri_forSingleStreamMode", rate, device.c_str());
    return false;
  }
  *request = QualityTerm(list, record) + ResolutionTerm(list, record, entry.baseRate) +
             FrameSkipTerm(list, record, entry) + KeyFrameTerm(list, record, entry.rate);
  return true;
}

std::string CElmoVideoSettingsManager::StreamTerms(const std::string& list, int32_t kind, const StreamRecord& record,
                                                   const std::vector<std::string>& chosen) {
  std::string terms;
  if (record.settings.frameInterval != 0) {
    uint32_t rate = RateOf(record.settings.frameInterval);
    const uint32_t limit = database_.GetMaxFrameRate(static_cast<uint32_t>(kind), chosen);
    if (limit != 0) rate = std::min(rate, limit);
    terms += FrameRateTerm(list, record, rate);
    terms += KeyFrameTerm(list, record, rate);
  }
  return terms + QualityTerm(list, record);
}

bool CElmoVideoSettingsManager::GenerateRequestUriForSeveralStreams(const std::string& list,
                                                                    const std::map<int32_t, StreamRecord>& records,
                                                                    std::string* request) {
  // The log lines keep the name this function has always had there, which users search their logs for.
  static const char* const kFunction = "norvale::CElmoVideoSettingsManager::GenerateRequestUri_forQuadStreamCameras";
  const std::string device = driver_->GetDeviceName();
  const std::string resolutionName = std::string(kAppearanceGroup) + ".Resolution";

  auto wantedName = [&](int32_t kind) {
    const auto it = records.find(kind);
    if (it == records.end() || it->second.settings.width == 0 || it->second.settings.height == 0) return std::string();
    return ResolutionName(it->second);
  };
  // 1. The wanted names, one per stream.
  std::vector<std::string> wanted;
  jpegInUse_ = false;
  const std::string remote = wantedName(StreamRemote);
  std::string live = wantedName(StreamLive);
  const std::string recording = wantedName(StreamRecording);
  if (!remote.empty()) wanted.assign(3, remote);
  if (live.empty() && deviceConfiguration_.allowDualStreaming) {
    const std::vector<std::string> current = Split(FindParamValue("root." + resolutionName, "=", list), ",");
    if (current.size() > 2) {
      if (current[2] != "disable") {
        live = current[2];
      } else if (current[0] != "disable" && current[1] != "disable") {
        live = current[0];
        jpegInUse_ = true;
      }
    }
  }
  if (!live.empty()) {
    if (wanted.size() >= 2)
      wanted[1] = live;
    else
      wanted.assign(2, live);
  }
  if (!recording.empty()) {
    if (wanted.empty())
      wanted.push_back(recording);
    else
      wanted[0] = recording;
  }
  if (wanted.empty()) {
    driver_->Log(LogError, "%s: Unable to generate resolution set for device %s", kFunction, device.c_str());
    return false;
  }

  // 2. The resolution database tells which combinations the camera takes.
  if (!database_.Open(driver_->GetStringParam(hostparam::kSupportedResolutions), driver_->GetDriverName())) {
    driver_->Log(LogError, "%s: Unable to open database file for handling resolution set setting for device %s",
                 kFunction, device.c_str());
    return GenerateRequestUriForSingleStream(list, records, request);
  }

  // 3. One name per stream, each allowed beside the ones chosen before it.
  std::vector<std::string> chosen;
  for (const std::string& name : wanted) {
    const auto allowed = database_.GetAllowedResolutions(static_cast<uint32_t>(wanted.size()), chosen);
    if (allowed.empty()) break;
    chosen.push_back(
        CResolutionHelper::ChooseResolution(std::vector<std::string>(allowed.begin(), allowed.end()), ToLower(name)));
  }

  // 4. Frame rate, key-frame interval and quality, once per parameter group. Streams of one group
  // share the camera's encoder, so one of them sets it: the first in kind order (recording, live,
  // remote), since the recording is what the system keeps. Were each to write its own value, the
  // camera would flip between them on every round.
  std::string terms;
  std::map<std::string, std::pair<int32_t, std::string>> owners;  // group -> the stream setting it, its terms
  for (const auto& [kind, record] : records) {
    if (record.codec == ipcapture::CodecJPEG) jpegInUse_ = true;
    const std::string group = GroupName(record);
    if (group.empty()) continue;  // such a stream has no terms
    std::string own = StreamTerms(list, kind, record, chosen);
    const auto [owner, first] = owners.try_emplace(group, kind, own);
    if (first) {
      terms += own;
    } else if (own != owner->second.second && !sharedGroupReported_) {
      sharedGroupReported_ = true;
      driver_->Log(LogWarning,
                   "%s: The %s and %s streams of device %s share the %s encoder settings; the %s stream's frame "
                   "rate, key-frame interval and quality are kept",
                   kFunction, StreamKindName(owner->second.first), StreamKindName(kind), device.c_str(), group.c_str(),
                   StreamKindName(owner->second.first));
    }
  }

  // 5. The resolution set: five entries, JPEG's first.
  std::vector<std::string> set;
  if (jpegInUse_ && !chosen.empty()) {
    set.push_back(chosen.back());
    set.insert(set.end(), chosen.begin(), chosen.end() - 1);
  } else {
    set.push_back("disable");
    set.insert(set.end(), chosen.begin(), chosen.end());
  }
  set.resize(5, "disable");
  *request = ParameterTerm(list, resolutionName, Join(set, ",")) + terms;
  return true;
}

}  // namespace norvale
