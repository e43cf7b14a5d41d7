#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace norvale {

// Slots of a session description: which media an m= line (and the lines after it) describes.
enum SDPMediaSlot : int { SDPNoSlot = 0, SDPVideo = 1, SDPAudio = 2, SDPMetadata = 3 };

// What the driver keeps of one m= section.
struct SDPMedia {
  uint16_t port = 0;              // from the m= line
  std::string protocol;           // e.g. RTP/AVP
  std::string connectionAddress;  // IPv4 address of c=, without a "/ttl" suffix
  std::string control;            // a=control value
  std::string encoding;           // second field of a=rtpmap, e.g. H264/90000
};

// The media of a DESCRIBE answer and the codec parameter sets of its video stream.
struct SDPDescription {
  SDPMedia video;
  SDPMedia audio;
  SDPMedia metadata;
  std::vector<uint8_t> sps;     // first H.264 parameter set
  std::vector<uint8_t> pps;     // second H.264 parameter set
  std::vector<uint8_t> config;  // MPEG-4 decoder configuration

  // The media of slot 1 (video), 2 (audio) or 3 (metadata); null for any other slot.
  SDPMedia* Media(int slot) {
    switch (slot) {
      case SDPVideo:
        return &video;
      case SDPAudio:
        return &audio;
      case SDPMetadata:
        return &metadata;
      default:
        return nullptr;
    }
  }
  const SDPMedia* Media(int slot) const { return const_cast<SDPDescription*>(this)->Media(slot); }

  void Clear() { *this = SDPDescription(); }
};

}  // namespace norvale
