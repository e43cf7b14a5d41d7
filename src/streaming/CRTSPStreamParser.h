#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/IRTSPClientUser.h"
#include "streaming/RTSPTypes.h"

namespace norvale {

// Cuts the RTP packets of channel 0 out of an RTSP connection that carries interleaved frames
// ("$", channel, 16-bit length, data). Frames may be split across reads; RTSP text between frames
// and frames of other channels are skipped.
class CRTSPStreamParser {
 public:
  explicit CRTSPStreamParser(IRTSPClientUser* user) : user_(user) {}
  virtual ~CRTSPStreamParser() = default;

  // Feeds one block of received bytes; calls the user's OnInterleavedPacket for each complete
  // channel 0 frame that parses as RTP. Never throws.
  void Feed(const uint8_t* data, size_t size);
  // Number of channel 0 frames that did not parse as RTP.
  uint64_t Rejected() const { return rejected_; }

 private:
  enum class State { Sync, Channel, Length1, Length2, Payload };
  void PassPacketToUser();

  IRTSPClientUser* user_;
  State state_ = State::Sync;
  uint8_t channel_ = 0;
  uint8_t lengthHigh_ = 0;
  size_t remaining_ = 0;
  std::vector<uint8_t> frame_;
  uint64_t rejected_ = 0;
};

}  // namespace norvale
