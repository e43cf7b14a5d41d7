#include "streaming/CMpeg4RTPMediaParser.h"

#include <string>

namespace norvale {
namespace {

bool StartsWithCode(const uint8_t* data, size_t size, uint8_t code) {
  return size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == code;
}

// Start codes 00 00 01 xx.
constexpr uint8_t kLastVideoObjectLayer = 0x2F;  // 00-1F video object, 20-2F video object layer
constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVisualObject = 0xB5;
constexpr uint8_t kVop = 0xB6;
constexpr size_t kStartCodeSize = 4;
// vop_coding_type is the top two bits after the VOP start code: 00 is an I-VOP, so a byte of 0x40
// or more starts a predicted VOP.
constexpr uint8_t kFirstPredictedVopByte = 0x40;
// Headers without a VOP behind them are taken only from a packet this short.
constexpr size_t kConfigOnlyLimit = 64;

// The headers that may stand in front of a VOP: the configuration (visual object sequence, visual
// object, video object, video object layer) and the group of VOPs.
bool StartsWithHeader(const uint8_t* data, size_t size) {
  if (size <= kStartCodeSize || data[0] != 0 || data[1] != 0 || data[2] != 1) return false;
  const uint8_t code = data[3];
  return code <= kLastVideoObjectLayer || code == kVisualObjectSequence || code == kVisualObject || code == kGroupOfVop;
}

// Offset of the first start code with this code at or after from; size when there is none.
size_t FindCode(const uint8_t* data, size_t size, size_t from, uint8_t code) {
  for (size_t i = from; i + kStartCodeSize <= size; ++i)
    if (StartsWithCode(data + i, size - i, code)) return i;
  return size;
}

}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CMpeg4RTPMediaParser::Reset() {
  CRTPMediaParser::Reset();
  waitingForKeyFrame_ = true;
  keyFrame_ = false;
  pendingGov_.clear();
}

void CMpeg4RTPMediaParser::HandlePacket(const CRTPPacket& packet) {
  const uint8_t* data = packet.Payload();
  size_t size = packet.payload.size();

  if (StartsWithHeader(data, size)) {
    // Configuration and group-of-VOPs headers in front of a VOP (or alone in a short packet): the
    // configuration is kept for the key frames to come, the group header goes in front of its VOP.
    const size_t vop = FindCode(data, size, kStartCodeSize, kVop);
    if (vop < size || size < kConfigOnlyLimit) {
      const size_t gov = StartsWithCode(data, size, kGroupOfVop) ? 0 : FindCode(data, vop, kStartCodeSize, kGroupOfVop);
      if (gov > 0) inbandConfig_.assign(data, data + gov);
      pendingGov_.assign(data + gov, data + vop);
      data += vop;
      size -= vop;
    }
  }

  if (size > kStartCodeSize && StartsWithCode(data, size, kVop)) {
    frame_.clear();
    if (data[kStartCodeSize] >= kFirstPredictedVopByte) {
      keyFrame_ = false;
    } else {
      const std::vector<uint8_t>& config = inbandConfig_.empty() ? config_ : inbandConfig_;
      Append(config.data(), config.size());
      Append(pendingGov_.data(), pendingGov_.size());
      waitingForKeyFrame_ = false;
      keyFrame_ = true;
    }
    pendingGov_.clear();
  }
  if (waitingForKeyFrame_) {
    if (packet.marker) CountDrop(DropReason::NoKeyFrame);
    return;
  }

  Append(data, size);
  if (!CheckBufferSize()) {
    Reset();
    return;
  }
  if (packet.marker && !frame_.empty()) CompleteFrame(packet.timestamp);
}

void CMpeg4RTPMediaParser::ProcessFrame(uint32_t timestamp) {
  if (!client_ || frame_.empty()) return;
  uint32_t code = MakeFourCC('D', 'I', 'V', 'I');
  if (keyFrame_) {
    uint16_t width = 0, height = 0;
    if (!parser_.Parse(frame_.data(), frame_.size(), &width, &height)) {
      CountDrop(DropReason::Malformed);
      Reset();
      return;
    }
    width_ = width;
    height_ = height;
    code = MakeFourCC('D', 'I', 'V', 'X');
  }
  static constexpr HandOverFailureLine kCopyFailure = {"%s: Data copying error, device %s", __PRETTY_FUNCTION__};
  HandOverFrame(code, CapacityClass(frame_.size()), frame_.data(), frame_.size(), nullptr, 0, timestamp, kCopyFailure);
}

}  // namespace norvale
