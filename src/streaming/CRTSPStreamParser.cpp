#include "streaming/CRTSPStreamParser.h"

#include <algorithm>

#include "platform/Guard.h"

namespace norvale {

namespace {
constexpr uint8_t kSync = 0x24;  // '$'

// A byte that RTSP text may hold right after a '$'. Such a '$' is text, not a frame start; any
// other byte is the channel of a frame, skipped by its length unless it is channel 0.
bool IsText(uint8_t b) { return (b >= 0x20 && b <= 0x7E) || b == '\t' || b == '\r' || b == '\n'; }
}  // namespace

void CRTSPStreamParser::Feed(const uint8_t* data, size_t size) {
  if (!data) return;
  try {
    size_t i = 0;
    while (i < size) {
      const uint8_t b = data[i];
      switch (state_) {
        case State::Sync:
          if (b == kSync) state_ = State::Channel;
          ++i;
          break;
        case State::Channel:
          if (b == 0 || !IsText(b)) {
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
  } ZEPHRIN_RETHROW_CANCELLATION catch (...) {
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
  } ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    // The user's failure does not stop the stream.
  }
}

}  // namespace norvale
