#include "streaming/CRTPSequenceStatistics.h"

namespace norvale {

void CRTPSequenceStatistics::Restart(uint16_t sequence) {
  highest_ = sequence;
  base_ = static_cast<uint16_t>(sequence - 1);
  badSequence_ = kSequenceModulo + 1;
  cycles_ = 0;
  received_ = 0;
}

void CRTPSequenceStatistics::Update(uint16_t sequence) {
  if (!started_) {
    started_ = true;
    Restart(sequence);
  }
  const uint16_t delta = static_cast<uint16_t>(sequence - highest_);
  if (delta < kMaxDropout) {
    if (sequence < highest_) cycles_ += kSequenceModulo;  // wrapped
    highest_ = sequence;
  } else if (delta <= kSequenceModulo - kMaxMisorder) {
    if (sequence == badSequence_) {
      // Two packets in a row after a big jump: the sender restarted its numbering.
      Restart(sequence);
    } else {
      badSequence_ = (sequence + 1u) & (kSequenceModulo - 1);
      return;
    }
  }
  // Anything else is a duplicate or a late packet: counted, nothing more.
  ++received_;
}

}  // namespace norvale
