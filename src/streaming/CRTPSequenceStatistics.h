#pragma once
#include <cstdint>

namespace norvale {

// The sequence number bookkeeping of RFC 3550 A.1 for one RTP stream, without probation: the highest
// sequence number with its wrap count, and how many packets were counted. A jump of 3000 or more is
// believed only when the next packet continues from it.
class CRTPSequenceStatistics {
 public:
  static constexpr uint32_t kMaxDropout = 3000;
  static constexpr uint32_t kMaxMisorder = 100;
  static constexpr uint32_t kSequenceModulo = 65536;

  // The first call starts the statistics at that packet.
  void Update(uint16_t sequence);

  bool Started() const { return started_; }
  uint16_t Highest() const { return highest_; }
  uint32_t Cycles() const { return cycles_; }
  // Wrap count x 65536 + highest sequence number (the receiver report's field).
  uint32_t ExtendedHighest() const { return cycles_ + highest_; }
  uint32_t Received() const { return received_; }
  uint32_t Base() const { return base_; }

 private:
  void Restart(uint16_t sequence);

  bool started_ = false;
  uint16_t highest_ = 0;
  uint32_t cycles_ = 0;
  uint32_t base_ = 0;
  uint32_t badSequence_ = kSequenceModulo + 1;
  uint32_t received_ = 0;
};

}  // namespace norvale
