#include "streaming/CH264RTPMediaParser.h"

#include <iterator>
#include <string>

#include "streaming/CBitReader.h"
#include "streaming/CH264SpsReader.h"
#include "streaming/H264Nal.h"

namespace norvale {
using namespace h264;

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::Reset() {
  CRTPMediaParser::Reset();
  waitingForKeyFrame_ = true;
  frameHasSlice_ = false;
  frameHasSps_ = false;
  fragmentOpen_ = false;
  frameIntact_ = true;
}

void CH264RTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                           const std::vector<uint8_t>& config) {
  config_ = config;
  // Kept only when the SPS gives a picture size; a broken description must not displace good sets.
  uint16_t width = 0, height = 0;
  if (sps.empty() || TypeOf(sps[0]) != kNalSps ||
      !CH264SpsReader::ReadPictureSize(sps.data(), sps.size(), &width, &height))
    return;
  sps_ = sps;
  pps_ = pps;
  width_ = width;
  height_ = height;
}

void CH264RTPMediaParser::AppendUnit(const uint8_t* unit, size_t size) {
  const uint8_t type = TypeOf(unit[0]);
  Append(kStartCode, sizeof(kStartCode));
  Append(unit, size);
  if (IsSlice(type)) frameHasSlice_ = true;
  if (type == kNalSps) frameHasSps_ = true;
  fragmentOpen_ = false;
}

void CH264RTPMediaParser::InsertParameterSets(const uint8_t* sliceData, size_t size) {
  // Only ahead of the first slice of an intact frame that does not carry its own SPS. Units that may
  // come before a slice (SEI) stay behind the parameter sets, so the SPS opens the frame.
  if (sps_.empty() || pps_.empty() || frameHasSlice_ || frameHasSps_ || !frameIntact_) return;
  // A slice that does not start at the first macroblock means the picture's first slice was lost:
  // such a frame must not pass for a key frame.
  CBitReader reader(sliceData, size, true);
  const uint32_t firstMacroblock = reader.UE();  // first_mb_in_slice
  if (!reader.Ok() || firstMacroblock != 0) return;
  std::vector<uint8_t> sets;
  sets.reserve(sps_.size() + pps_.size() + 6);
  sets.insert(sets.end(), std::begin(kStartCode), std::end(kStartCode));
  sets.insert(sets.end(), sps_.begin(), sps_.end());
  sets.insert(sets.end(), std::begin(kStartCode), std::end(kStartCode));
  sets.insert(sets.end(), pps_.begin(), pps_.end());
  frame_.insert(frame_.begin(), sets.begin(), sets.end());
  frameHasSps_ = true;
}

bool CH264RTPMediaParser::HandleSingle(const uint8_t* payload, size_t size) {
  if (size < 2) return false;
  const uint8_t type = TypeOf(payload[0]);
  if (type == kNalSps || type == kNalPps) {
    (type == kNalSps ? sps_ : pps_).assign(payload, payload + size);
    return true;
  }
  // Every delivered frame ends with its own delimiter.
  if (type == kNalAud) return true;
  if (type == kNalIdr) InsertParameterSets(payload + 1, size - 1);
  AppendUnit(payload, size);
  return true;
}

bool CH264RTPMediaParser::HandleStapA(const uint8_t* payload, size_t size) {
  if (size < kStapHeaderSize + kStapUnitSizeField + 1) return false;
  size_t pos = kStapHeaderSize;
  while (size - pos > 1) {
    const size_t unitSize = (static_cast<size_t>(payload[pos]) << 8) | payload[pos + 1];
    pos += kStapUnitSizeField;
    if (pos == size) break;
    if (unitSize > size - pos) return false;
    if (unitSize > 0 && TypeOf(payload[pos]) != kNalAud) {
      if (unitSize > 1 && TypeOf(payload[pos]) == kNalIdr) InsertParameterSets(payload + pos + 1, unitSize - 1);
      AppendUnit(payload + pos, unitSize);
    }
    pos += unitSize;
  }
  return true;
}

bool CH264RTPMediaParser::HandleFuA(const uint8_t* payload, size_t size) {
  if (size < kFuHeaderSize + 1) return false;
  const uint8_t fuHeader = payload[1];
  const uint8_t type = TypeOf(fuHeader);
  if (fuHeader & kFuStartBit) {
    if (type == kNalIdr) InsertParameterSets(payload + kFuHeaderSize, size - kFuHeaderSize);
    const uint8_t header = static_cast<uint8_t>((payload[0] & kHeaderHighBitsMask) | type);
    Append(kStartCode, sizeof(kStartCode));
    Append(&header, 1);
    if (IsSlice(type)) frameHasSlice_ = true;
    if (type == kNalSps) frameHasSps_ = true;
    fragmentOpen_ = true;
  } else if (!fragmentOpen_) {
    frameIntact_ = false;
  }
  Append(payload + kFuHeaderSize, size - kFuHeaderSize);
  if (fuHeader & kFuEndBit) fragmentOpen_ = false;
  return true;
}

void CH264RTPMediaParser::HandlePacket(const CRTPPacket& packet) {
  if (frame_.empty()) {
    frameHasSlice_ = frameHasSps_ = fragmentOpen_ = false;
    frameIntact_ = true;
  }
  const uint8_t* payload = packet.Payload();
  const size_t size = packet.payload.size();
  bool ok = false;
  DropReason reason = DropReason::Malformed;
  if (size > 0) {
    const uint8_t type = TypeOf(payload[0]);
    if (IsSingleUnit(type)) {
      ok = HandleSingle(payload, size);
    } else if (type == kStapA) {
      ok = HandleStapA(payload, size);
    } else if (type == kFuA) {
      ok = HandleFuA(payload, size);
      reason = DropReason::BadFuA;
    } else {
      reason = DropReason::Unsupported;
    }
  }
  if (!ok) {
    CountDrop(reason);
    Reset();
    return;
  }
  if (!CheckBufferSize()) {
    Reset();
    return;
  }
  if (packet.marker && !frame_.empty()) CompleteFrame(packet.timestamp);
}

bool CH264RTPMediaParser::FrameComplete() const {
  // Not while a fragmented unit still lacks its end.
  return !frame_.empty() && frameHasSlice_ && !fragmentOpen_;
}

void CH264RTPMediaParser::ProcessFrame(uint32_t timestamp) {
  if (!client_ || frame_.empty()) return;
  Append(kAccessUnitDelimiter, sizeof(kAccessUnitDelimiter));
  uint32_t code = MakeFourCC('I', '2', '6', '4');
  uint16_t width = 0, height = 0;
  if (CH264SpsReader::FindPictureSize(frame_.data(), frame_.size(), &width, &height)) {
    width_ = width;
    height_ = height;
    code = MakeFourCC('H', '2', '6', '4');
    waitingForKeyFrame_ = false;
  } else if (waitingForKeyFrame_) {
    CountDrop(DropReason::NoKeyFrame);
    return;
  }
  static constexpr HandOverFailureLine kCopyFailure = {"%s: Data copying error, device %s", __PRETTY_FUNCTION__};
  HandOverFrame(code, CapacityClass(frame_.size()), frame_.data(), frame_.size(), nullptr, 0, timestamp, kCopyFailure);
}

}  // namespace norvale
