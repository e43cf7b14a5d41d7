#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/CMP4Parser.h"
#include "streaming/CRTPMediaParser.h"

namespace norvale {

// MPEG-4 part 2 over RTP (RFC 3016) to an elementary stream of whole VOPs. A key frame (I-VOP) is
// preceded by the stream configuration (from the stream itself or from the session description) and
// its group-of-VOPs header, if one came, and delivered as "DIVX" with its picture size; other frames
// are "DIVI". After a start or a reset nothing is delivered until an I-VOP.
class CMpeg4RTPMediaParser : public CRTPMediaParser {
 public:
  explicit CMpeg4RTPMediaParser(IDriver* driver);

  void Reset() override;

 protected:
  void HandlePacket(const CRTPPacket& packet) override;
  void ProcessFrame(uint32_t timestamp) override;

 private:
  CMP4Parser parser_;
  std::vector<uint8_t> inbandConfig_;
  std::vector<uint8_t> pendingGov_;  // a group-of-VOPs header waiting for its VOP
  bool waitingForKeyFrame_ = true;
  bool keyFrame_ = false;
};

}  // namespace norvale
