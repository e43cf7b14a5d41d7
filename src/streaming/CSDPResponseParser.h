#pragma once
#include <string>

#include "streaming/SDPDescription.h"

namespace norvale {

// Reads the session description of a DESCRIBE answer, keeping the media of the video, audio and
// metadata slots and the video stream's H.264 parameter sets or MPEG-4 configuration.
class CSDPResponseParser {
 public:
  virtual ~CSDPResponseParser() = default;

  // Clears the description, then fills it. True when every line was accepted; an empty text is
  // accepted. On false the description holds what was stored before the failing line.
  bool Parse(const std::string& text);
  const SDPDescription& Description() const { return description_; }

  // The encoding name of a media: its rtpmap's up to the '/', or the name of a static payload
  // format (26 is JPEG); empty when neither is known.
  static std::string EncodingName(const SDPMedia& media);

 private:
  bool HandleMedia(const std::string& line);
  bool HandleConnection(const std::string& line);
  bool HandleControl(const std::string& line);
  bool HandleRtpMap(const std::string& line);
  bool HandleFormatParameters(const std::string& line);

  SDPDescription description_;
  SDPMediaSlot slot_ = SDPMediaSlot::None;
  // The m= section being read: its first payload format and how well its encoding is known (0 not
  // at all, 1 from the rtpmap of another format, 2 from the rtpmap of its first format).
  bool inSection_ = false;
  std::string sectionFormat_;
  int sectionRank_ = 0;
};

}  // namespace norvale
