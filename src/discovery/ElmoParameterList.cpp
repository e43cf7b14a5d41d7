#include "discovery/ElmoParameterList.h"

#include <algorithm>

#include "camera/CameraSeries.h"
#include "runtime/StringUtils.h"

namespace norvale::ElmoParameterList {

namespace {
constexpr const char* kLineDelimiters = "\r\n";
}

std::string NormaliseLineBreaks(const std::string& text) {
  // Built in one pass: a run-together answer of a megabyte must not cost a copy per key.
  static const std::string kKey = "root.";
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  size_t copied = 0;
  for (size_t pos = text.find(kKey, 2); pos != std::string::npos; pos = text.find(kKey, pos + 2)) {
    if (text[pos - 1] == '\n') continue;
    out.append(text, copied, pos - copied);
    out.push_back('\n');
    copied = pos;
  }
  out.append(text, copied, std::string::npos);
  return out;
}

std::string Value(const std::string& list, const std::string& key) {
  return FindParamValue(key, "=", list, kLineDelimiters);
}

std::vector<std::string> ListValue(const std::string& list, const std::string& key) {
  return FindListValue(key, "=", list, ",", kLineDelimiters);
}

std::set<uint32_t> ParseCodecs(const std::string& list) {
  std::set<uint32_t> codecs;
  for (const auto& item : ListValue(list, "root.Properties.Image.Format")) {
    if (item == "mjpeg")
      codecs.insert(CodecSetNumber(PropertyCodec::Jpeg));
    else if (item == "mpeg4")
      codecs.insert(CodecSetNumber(PropertyCodec::Mpeg4));
    else if (item == "h264")
      codecs.insert(CodecSetNumber(PropertyCodec::H264));
  }
  return codecs;
}

bool IsNtsc(const std::string& list) {
  return ToLower(Value(list, "root.ImageSource.I0.Video.DetectedType")) == "ntsc";
}

ResolutionConfiguration ClassifyResolutionConfiguration(const std::string& list, size_t codecCount) {
  ResolutionConfiguration config;
  const size_t count = ListValue(list, "root.Image.I0.Appearance.Resolution").size();
  config.entries = static_cast<uint32_t>(std::min<size_t>(count, 0xFFFFFFFFu));
  switch (count) {
    case 0:
      config.error = "Unable to read resolution configuration";
      return config;
    case 2:
      break;
    case 3:
      if (count > codecCount) config.secondH264 = list.find(".H264_2") != std::string::npos;
      break;
    case 4:
      config.seriesIfUnset = series::kFourResolutionEntries;
      break;
    case 5:
      if (count > codecCount) config.streams = static_cast<uint32_t>(std::min<size_t>(count - codecCount + 1, 3));
      config.seriesIfUnset = series::kMultiStream;
      break;
    default:
      config.error =
          FormatString("Resolution configuration contains unexpected set of resolutions(%u)", config.entries);
      return config;
  }
  config.accepted = true;
  return config;
}

namespace {
constexpr const char* kPresetSuffix = ".preset";
// The longest brand or MAC text that goes into a preset file name; the whole name stays far below
// the file systems' limit of 255 bytes.
constexpr size_t kMaxPresetNamePart = 64;

bool IsFileNameCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

// Only letters, digits, '.', '_' and '-' are kept; the characters earlier versions removed (hyphen
// included) stay removed, so a camera keeps the file name it had.
std::string PresetFileNamePart(const std::string& text) {
  static const std::string kAlwaysRemoved = "\\/:*?\"<>!' -";
  std::string part;
  for (unsigned char c : text) {
    if (part.size() == kMaxPresetNamePart) break;
    if (IsFileNameCharacter(c) && kAlwaysRemoved.find(static_cast<char>(c)) == std::string::npos)
      part.push_back(static_cast<char>(c));
  }
  return part;
}
}  // namespace

bool IsPresetFileName(const std::string& name) {
  const size_t suffix = std::char_traits<char>::length(kPresetSuffix);
  if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kPresetSuffix) != 0) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return IsFileNameCharacter(static_cast<unsigned char>(c)); });
}

std::string PresetFileName(const std::string& brand, const std::string& macAddress) {
  const std::string cleanBrand = PresetFileNamePart(brand);
  const std::string cleanMac = PresetFileNamePart(macAddress);
  if (cleanBrand.empty() || cleanMac.empty()) return {};
  std::string name = cleanBrand + "_" + cleanMac + kPresetSuffix;
  return IsPresetFileName(name) ? name : std::string();
}

uint32_t PositiveCount(const std::string& list, const std::string& key) {
  const std::string text = Value(list, key);
  int32_t value = 0;
  if (!ParseInt(text, &value)) return 0;
  // The number is checked by hand as well: a conversion of too many digits does not say what it got.
  uint64_t exact = 0;
  for (char c : text) {
    if (c < '0' || c > '9') continue;
    exact = exact * 10 + static_cast<uint64_t>(c - '0');
    if (exact > kMaxIOCount) return 0;
  }
  if (text[0] == '-' || exact == 0) return 0;
  return static_cast<uint32_t>(exact);
}

bool IsPositiveProbeAnswer(const std::string& answer) {
  const std::string lower = ToLower(answer);
  return !lower.empty() && lower.find("not found") == std::string::npos && lower.find("error") == std::string::npos;
}

PtzInfo ParsePtzInfo(const std::string& answer) {
  auto has = [&answer](const char* key) { return !Value(answer, key).empty(); };
  const bool move = has("continuouspantiltmove");
  const bool zoomMove = has("continuouszoommove");
  PtzInfo info;
  info.pan = move && has("pan");
  info.tilt = move && has("tilt");
  info.zoom = zoomMove;
  info.areaZoom = zoomMove && has("zoom");
  info.focus = zoomMove && has("autofocus") && has("continuousfocusmove");
  info.presets = !FindParamValue("gotoserverpresetno", "[", answer, kLineDelimiters).empty();
  return info;
}

}  // namespace norvale::ElmoParameterList
