#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace norvale {

// Slots of a session description: which media an m= line (and the lines after it) describes.
enum class SDPMediaSlot : int { None = 0, Video = 1, Audio = 2, Metadata = 3 };

// What the driver keeps of one m= section.
struct SDPMedia {
  uint16_t port = 0;              // from the m= line
  std::string protocol;           // e.g. RTP/AVP
  std::string connectionAddress;  // IPv4 address of c=, without a "/ttl" suffix
  std::string control;            // a=control value
  std::string encoding;           // second field of a=rtpmap, e.g. H264/90000
  std::string format;             // first payload format of the m= line, e.g. 96 or 26
  bool present = false;           // the description has an m= line of this kind
};

// The media of a DESCRIBE answer and the codec parameter sets of its video stream.
struct SDPDescription {
  SDPMedia video;
  SDPMedia audio;
  SDPMedia metadata;
  std::vector<uint8_t> sps;     // first H.264 parameter set
  std::vector<uint8_t> pps;     // second H.264 parameter set
  std::vector<uint8_t> config;  // MPEG-4 decoder configuration
  // The encoding name of each m= section in order, e.g. H265, PCMU (the payload format where the
  // encoding is not known); the first kMaxOffered sections only.
  static constexpr size_t kMaxOffered = 16;
  std::vector<std::string> offered;

  // The media of a slot; null for none.
  SDPMedia* Media(SDPMediaSlot slot) {
    switch (slot) {
      case SDPMediaSlot::Video:
        return &video;
      case SDPMediaSlot::Audio:
        return &audio;
      case SDPMediaSlot::Metadata:
        return &metadata;
      case SDPMediaSlot::None:
        break;
    }
    return nullptr;
  }
  const SDPMedia* Media(SDPMediaSlot slot) const { return const_cast<SDPDescription*>(this)->Media(slot); }

  void Clear() { *this = SDPDescription(); }
};

}  // namespace norvale
