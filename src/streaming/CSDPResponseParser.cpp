#include "streaming/CSDPResponseParser.h"

#include <vector>

#include "runtime/Base64.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Fields of an SDP value: cut at every single space, so two spaces in a row give an empty field.
std::vector<std::string> Fields(const std::string& value) { return Split(value, " "); }

// A format parameter of an a=fmtp line. The parameter list starts after the payload type, so the
// first parameter follows a space rather than a ';': it is looked up in that list when the whole
// line does not yield it.
std::string FormatParameter(const std::string& key, const std::string& line) {
  std::string value = FindParamValue(key, "=", line, ";\r\n");
  if (value.empty()) {
    const size_t space = line.find(' ');
    if (space != std::string::npos) value = FindParamValue(key, "=", line.substr(space + 1), ";\r\n");
  }
  return value;
}

// Payload formats with a fixed encoding (RFC 3551) that a camera may offer without an rtpmap.
const char* StaticEncoding(const std::string& format) {
  static const struct {
    const char* format;
    const char* name;
  } kStatic[] = {{"0", "PCMU"}, {"8", "PCMA"},  {"14", "MPA"}, {"26", "JPEG"},
                 {"32", "MPV"}, {"33", "MP2T"}, {"34", "H263"}};
  for (const auto& entry : kStatic)
    if (format == entry.format) return entry.name;
  return "";
}

// A video encoding whose format parameters this parser reads.
bool ReadsFormatParameters(const std::string& name) {
  const std::string lower = ToLower(name);
  return name.empty() || lower == "h264" || lower == "mp4v-es";
}

}  // namespace

std::string CSDPResponseParser::EncodingName(const SDPMedia& media) {
  if (!media.encoding.empty()) return media.encoding.substr(0, media.encoding.find('/'));
  return StaticEncoding(media.format);
}

bool CSDPResponseParser::Parse(const std::string& text) {
  description_.Clear();
  slot_ = SDPMediaSlot::None;
  inSection_ = false;
  size_t pos = 0;
  while (pos < text.size()) {
    pos = text.find_first_not_of("\r\n", pos);
    if (pos == std::string::npos) break;
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end;

    const std::string lower = ToLower(line);
    bool accepted = true;
    if (StartsWith(lower, "m="))
      accepted = HandleMedia(line);
    else if (StartsWith(lower, "c=in"))
      accepted = HandleConnection(line);
    else if (StartsWith(lower, "a=control"))
      accepted = HandleControl(line);
    else if (StartsWith(lower, "a=fmtp"))
      accepted = HandleFormatParameters(line);
    else if (StartsWith(lower, "a=rtpmap"))
      accepted = HandleRtpMap(line);
    if (!accepted) return false;
  }
  return true;
}

bool CSDPResponseParser::HandleMedia(const std::string& line) {
  const std::string value = FindParamValue("m", "=", line, "\r\n");
  if (value.empty()) return false;
  const std::vector<std::string> fields = Fields(value);
  if (fields[0].empty()) return false;
  const std::string kind = ToLower(fields[0]);
  if (kind == "video")
    slot_ = SDPMediaSlot::Video;
  else if (kind == "audio")
    slot_ = SDPMediaSlot::Audio;
  else if (kind == "metadata" || kind == "data" || kind == "application")
    slot_ = SDPMediaSlot::Metadata;
  else
    slot_ = SDPMediaSlot::None;
  inSection_ = description_.offered.size() < SDPDescription::kMaxOffered;
  sectionFormat_ = fields.size() >= 4 ? fields[3] : std::string();
  sectionRank_ = 0;
  if (inSection_) {
    const char* name = StaticEncoding(sectionFormat_);
    description_.offered.push_back(*name ? std::string(name) : sectionFormat_);
  }
  SDPMedia* media = description_.Media(slot_);
  if (media) {
    // A later section of the same kind takes the slot's encoding with it.
    media->present = true;
    media->format = sectionFormat_;
    media->encoding.clear();
  }
  if (media && fields.size() >= 3) {
    media->port = ToUnsigned16(fields[1]);
    media->protocol = fields[2];
  }
  return true;
}

bool CSDPResponseParser::HandleConnection(const std::string& line) {
  const std::vector<std::string> fields = Fields(FindParamValue("c", "=", line, "\r\n"));
  if (fields.size() < 3 || fields[0] != "IN") return false;
  if (fields[1] == "IP4") {
    const std::string address = fields[2].substr(0, fields[2].find('/'));
    if (SDPMedia* media = description_.Media(slot_)) media->connectionAddress = address;
    return !address.empty();
  }
  return fields[1] == "IP6";
}

bool CSDPResponseParser::HandleControl(const std::string& line) {
  static const std::string kKey = "a=control:";
  const size_t at = line.find(kKey);
  if (at == std::string::npos) return false;
  const std::string value = line.substr(at + kKey.size());
  if (value.empty()) return false;
  if (SDPMedia* media = description_.Media(slot_)) media->control = value;
  return true;
}

bool CSDPResponseParser::HandleRtpMap(const std::string& line) {
  const std::vector<std::string> fields = Fields(FindParamValue("a=rtpmap", ":", line, "\r\n"));
  if (fields.size() < 2) return false;
  // The rtpmap of the section's first payload format names it; another one only until that comes.
  const int rank = fields[0] == sectionFormat_ ? 2 : 1;
  if (rank <= sectionRank_) return true;
  sectionRank_ = rank;
  if (SDPMedia* media = description_.Media(slot_)) media->encoding = fields[1];
  if (inSection_) description_.offered.back() = fields[1].substr(0, fields[1].find('/'));
  return true;
}

bool CSDPResponseParser::HandleFormatParameters(const std::string& line) {
  if (slot_ == SDPMediaSlot::None) return false;
  if (slot_ != SDPMediaSlot::Video) return true;
  // The parameters of another codec (H.265's sprop-vps, a foreign config=) are not read: such a
  // track is not set up.
  if (!ReadsFormatParameters(EncodingName(description_.video))) return true;

  const std::string sets = FormatParameter("sprop-parameter-sets", line);
  if (!sets.empty()) {
    const std::vector<std::string> parts = Split(sets, ",");
    if (parts.size() < 2) return false;
    description_.sps = Base64Decode(parts[0]);
    description_.pps = Base64Decode(parts[1]);
    return !description_.sps.empty() && !description_.pps.empty();
  }

  const std::string config = FormatParameter("config", line);
  if (config.empty()) return false;
  description_.config = config.find('=') == std::string::npos ? HexToBytes(config) : Base64Decode(config);
  return !description_.config.empty();
}

}  // namespace norvale
