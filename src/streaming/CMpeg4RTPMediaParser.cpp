#include "streaming/CMpeg4RTPMediaParser.h"

#include <string>

namespace norvale {
namespace {

bool StartsWithCode(const uint8_t* data, size_t size, uint8_t code) {
  return size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == code;
}

// Start codes 00 00 01 xx.
constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kVop = 0xB6;
constexpr size_t kStartCodeSize = 4;
// vop_coding_type is the top two bits after the VOP start code: 00 is an I-VOP, so a byte of 0x40
// or more starts a predicted VOP.
constexpr uint8_t kFirstPredictedVopByte = 0x40;
// An in-band configuration without a VOP behind it is taken only from a packet this short.
constexpr size_t kConfigOnlyLimit = 64;

}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CMpeg4RTPMediaParser::Reset() {
  CRTPMediaParser::Reset();
  waitingForKeyFrame_ = true;
  keyFrame_ = false;
}

void CMpeg4RTPMediaParser::HandlePacket(const CRTPPacket& packet) {
  const uint8_t* data = packet.Payload();
  size_t size = packet.payload.size();

  if (size > kStartCodeSize && StartsWithCode(data, size, kVisualObjectSequence)) {
    size_t vop = kStartCodeSize;
    while (vop + 3 < size && !StartsWithCode(data + vop, size - vop, kVop)) ++vop;
    if (vop + 3 < size) {
      inbandConfig_.assign(data, data + vop);
      data += vop;
      size -= vop;
    } else if (size < kConfigOnlyLimit) {
      inbandConfig_.assign(data, data + size);
      size = 0;
    }
  }

  if (size > kStartCodeSize && StartsWithCode(data, size, kVop)) {
    frame_.clear();
    if (data[kStartCodeSize] >= kFirstPredictedVopByte) {
      keyFrame_ = false;
    } else {
      const std::vector<uint8_t>& config = inbandConfig_.empty() ? config_ : inbandConfig_;
      Append(config.data(), config.size());
      waitingForKeyFrame_ = false;
      keyFrame_ = true;
    }
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
  static constexpr HandOverFailureLine kCopyFailure = {"%s: Data copying error, device %s",
                                                       "norvale::CMpeg4RTPMediaParser::ProcessFrame"};
  HandOverFrame(code, CapacityClass(frame_.size()), frame_.data(), frame_.size(), nullptr, 0, timestamp, kCopyFailure);
}

}  // namespace norvale
