#include "streaming/CRTSPStreamParser.h"

#include <algorithm>

#include "platform/Guard.h"

namespace norvale {

void CRTSPStreamParser::Feed(const uint8_t* data, size_t size) {
  if (!data) return;
  try {
    size_t i = 0;
    while (i < size) {
      const uint8_t b = data[i];
      switch (state_) {
        case State::Sync:
          if (b == kInterleavedSync) state_ = State::Channel;
          ++i;
          break;
        case State::Channel:
          // A frame of another channel is skipped by its length; a '$' inside text is not a frame.
          if (IsInterleavedChannel(b)) {
            channel_ = b;
            state_ = State::Length1;
            ++i;
          } else {
            state_ = State::Sync;  // a mismatch restarts the match at this same byte
          }
          break;
        case State::Length1:
          lengthHigh_ = b;
          state_ = State::Length2;
          ++i;
          break;
        case State::Length2:
          remaining_ = size_t{lengthHigh_} << 8 | b;
          ++i;
          frame_.clear();
          state_ = remaining_ == 0 ? State::Sync : State::Payload;
          break;
        case State::Payload: {
          const size_t take = std::min(remaining_, size - i);
          if (channel_ == 0) frame_.insert(frame_.end(), data + i, data + i + take);
          i += take;
          remaining_ -= take;
          if (remaining_ == 0) {
            if (channel_ == 0) PassPacketToUser();
            state_ = State::Sync;
          }
          break;
        }
      }
    }
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    // Out of memory for a frame: drop it and look for the next one.
    frame_.clear();
    state_ = State::Sync;
  }
}

void CRTSPStreamParser::PassPacketToUser() {
  CRTPPacket packet;
  if (!packet.Parse(frame_.data(), frame_.size())) {
    ++rejected_;
    return;
  }
  frame_.clear();
  if (!user_) return;
  try {
    user_->OnInterleavedPacket(packet);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    // The user's failure does not stop the stream.
  }
}

}  // namespace norvale
