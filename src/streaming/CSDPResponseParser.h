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

 private:
  bool HandleMedia(const std::string& line);
  bool HandleConnection(const std::string& line);
  bool HandleControl(const std::string& line);
  bool HandleRtpMap(const std::string& line);
  bool HandleFormatParameters(const std::string& line);

  SDPDescription description_;
  SDPMediaSlot slot_ = SDPMediaSlot::None;
};

}  // namespace norvale
