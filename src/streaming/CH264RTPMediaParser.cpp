#include "streaming/CH264RTPMediaParser.h"

#include <string>

#include "streaming/CBitReader.h"

namespace norvale {
namespace {

constexpr uint8_t kStartCode[3] = {0, 0, 1};
constexpr uint8_t kAccessUnitDelimiter[5] = {0, 0, 1, 0x09, 0x30};
constexpr size_t kSpsSearchWindow = 64;

enum : uint8_t { kNalIdr = 5, kNalSps = 7, kNalPps = 8, kNalAud = 9, kStapA = 24, kFuA = 28 };

bool IsSlice(uint8_t type) { return type >= 1 && type <= 5; }

bool SkipScalingList(CBitReader& reader, unsigned size) {
  int32_t last = 8, next = 8;
  for (unsigned j = 0; j < size; ++j) {
    if (next != 0) {
      int32_t delta = 0;
      if (!reader.ReadSE(&delta) || delta < -128 || delta > 127) return false;
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
  return true;
}

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::Reset() {
  CRTPMediaParser::Reset();
  waitingForKeyFrame_ = true;
  parameterSetsPending_ = true;
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
  if (sps.empty() || (sps[0] & 0x1F) != kNalSps || !ReadSPSSize(sps.data(), sps.size(), &width, &height)) return;
  sps_ = sps;
  pps_ = pps;
  width_ = width;
  height_ = height;
}

bool CH264RTPMediaParser::ReadSPSSize(const uint8_t* nal, size_t size, uint16_t* width, uint16_t* height) {
  if (!nal || size < 2) return false;
  CBitReader reader(nal + 1, size - 1, true);
  uint32_t profile = 0, ignored = 0;
  if (!reader.ReadBits(8, &profile) || !reader.Skip(16) || !reader.ReadUE(&ignored) || ignored > 31) return false;

  uint32_t chromaFormat = 1, separatePlanes = 0;
  // The high profiles (and the 4:4:4, scalable and multiview ones that share their syntax) carry the
  // chroma format, bit depths and scaling matrices.
  if (profile >= 100 || profile == 44 || profile == 83 || profile == 86) {
    if (!reader.ReadUE(&chromaFormat) || chromaFormat > 3) return false;
    if (chromaFormat == 3 && !reader.ReadBit(&separatePlanes)) return false;
    uint32_t depth = 0, scalingMatrix = 0;
    if (!reader.ReadUE(&depth) || depth > 6 || !reader.ReadUE(&depth) || depth > 6) return false;
    if (!reader.ReadBit(&ignored) || !reader.ReadBit(&scalingMatrix)) return false;
    if (scalingMatrix) {
      const unsigned lists = chromaFormat == 3 ? 12 : 8;
      for (unsigned i = 0; i < lists; ++i) {
        uint32_t present = 0;
        if (!reader.ReadBit(&present)) return false;
        if (present && !SkipScalingList(reader, i < 6 ? 16 : 64)) return false;
      }
    }
  }

  uint32_t pocType = 0;
  if (!reader.ReadUE(&ignored) || ignored > 12 || !reader.ReadUE(&pocType)) return false;
  if (pocType == 0) {
    if (!reader.ReadUE(&ignored) || ignored > 12) return false;
  } else if (pocType == 1) {
    int32_t offset = 0;
    uint32_t cycle = 0;
    if (!reader.ReadBit(&ignored) || !reader.ReadSE(&offset) || !reader.ReadSE(&offset) || !reader.ReadUE(&cycle) ||
        cycle > 255)
      return false;
    for (uint32_t i = 0; i < cycle; ++i)
      if (!reader.ReadSE(&offset)) return false;
  } else if (pocType != 2) {
    return false;
  }

  uint32_t widthMbs = 0, heightUnits = 0, frameMbsOnly = 0, cropping = 0;
  if (!reader.ReadUE(&ignored) || !reader.ReadBit(&ignored) || !reader.ReadUE(&widthMbs) ||
      !reader.ReadUE(&heightUnits) || !reader.ReadBit(&frameMbsOnly))
    return false;
  if (!frameMbsOnly && !reader.ReadBit(&ignored)) return false;
  if (!reader.ReadBit(&ignored) || !reader.ReadBit(&cropping)) return false;
  uint32_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
  if (cropping)
    for (uint32_t& c : crop)
      if (!reader.ReadUE(&c)) return false;

  const uint64_t fieldFactor = frameMbsOnly ? 1 : 2;
  const uint64_t codedWidth = (uint64_t{widthMbs} + 1) * 16;
  const uint64_t codedHeight = fieldFactor * (uint64_t{heightUnits} + 1) * 16;
  // Cropping counts in chroma sample units (luma samples for monochrome or separate planes).
  const uint32_t chromaArrayType = separatePlanes ? 0 : chromaFormat;
  const uint64_t subWidth = (chromaArrayType == 1 || chromaArrayType == 2) ? 2 : 1;
  const uint64_t subHeight = chromaArrayType == 1 ? 2 : 1;
  const uint64_t cropWidth = subWidth * (uint64_t{crop[0]} + crop[1]);
  const uint64_t cropHeight = subHeight * fieldFactor * (uint64_t{crop[2]} + crop[3]);
  if (cropWidth >= codedWidth || cropHeight >= codedHeight) return false;
  const uint64_t w = codedWidth - cropWidth, h = codedHeight - cropHeight;
  if (w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF) return false;
  *width = static_cast<uint16_t>(w);
  *height = static_cast<uint16_t>(h);
  return true;
}

bool CH264RTPMediaParser::FindSPSSize(const uint8_t* data, size_t size, uint16_t* width, uint16_t* height) {
  if (!data) return false;
  for (size_t i = 0; i + 3 < size && i + 3 < kSpsSearchWindow; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || (data[i + 3] & 0x1F) != kNalSps) continue;
    const size_t begin = i + 3;
    size_t end = begin + 1;
    while (end + 2 < size && !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] == 1)) ++end;
    if (end + 2 >= size) end = size;
    return ReadSPSSize(data + begin, end - begin, width, height);
  }
  return false;
}

void CH264RTPMediaParser::AppendUnit(const uint8_t* unit, size_t size) {
  const uint8_t type = unit[0] & 0x1F;
  Append(kStartCode, 3);
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
  uint32_t firstMacroblock = 1;
  if (!reader.ReadUE(&firstMacroblock) || firstMacroblock != 0) return;
  std::vector<uint8_t> sets;
  sets.reserve(sps_.size() + pps_.size() + 6);
  sets.insert(sets.end(), kStartCode, kStartCode + 3);
  sets.insert(sets.end(), sps_.begin(), sps_.end());
  sets.insert(sets.end(), kStartCode, kStartCode + 3);
  sets.insert(sets.end(), pps_.begin(), pps_.end());
  frame_.insert(frame_.begin(), sets.begin(), sets.end());
  frameHasSps_ = true;
}

bool CH264RTPMediaParser::HandleSingle(const uint8_t* payload, size_t size) {
  if (size < 2) return false;
  const uint8_t type = payload[0] & 0x1F;
  if (type == kNalSps || type == kNalPps) {
    (type == kNalSps ? sps_ : pps_).assign(payload, payload + size);
    parameterSetsPending_ = false;
    return true;
  }
  // Every delivered frame ends with its own delimiter.
  if (type == kNalAud) return true;
  if (type == kNalIdr) InsertParameterSets(payload + 1, size - 1);
  AppendUnit(payload, size);
  return true;
}

bool CH264RTPMediaParser::HandleStapA(const uint8_t* payload, size_t size) {
  if (size < 4) return false;
  size_t pos = 1;
  while (size - pos > 1) {
    const size_t unitSize = (static_cast<size_t>(payload[pos]) << 8) | payload[pos + 1];
    pos += 2;
    if (pos == size) break;
    if (unitSize > size - pos) return false;
    if (unitSize > 0 && (payload[pos] & 0x1F) != kNalAud) AppendUnit(payload + pos, unitSize);
    pos += unitSize;
  }
  return true;
}

bool CH264RTPMediaParser::HandleFuA(const uint8_t* payload, size_t size) {
  if (size < 3) return false;
  const uint8_t fuHeader = payload[1];
  const uint8_t type = fuHeader & 0x1F;
  if (fuHeader & 0x80) {
    if (type == kNalIdr && !parameterSetsPending_) InsertParameterSets(payload + 2, size - 2);
    const uint8_t header = static_cast<uint8_t>((payload[0] & 0xE0) | type);
    Append(kStartCode, 3);
    Append(&header, 1);
    if (IsSlice(type)) frameHasSlice_ = true;
    if (type == kNalSps) frameHasSps_ = true;
    fragmentOpen_ = true;
  } else if (!fragmentOpen_) {
    frameIntact_ = false;
  }
  Append(payload + 2, size - 2);
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
  if (size > 0) {
    const uint8_t type = payload[0] & 0x1F;
    if (type >= 1 && type <= 23)
      ok = HandleSingle(payload, size);
    else if (type == kStapA)
      ok = HandleStapA(payload, size);
    else if (type == kFuA)
      ok = HandleFuA(payload, size);
  }
  if (!ok || !CheckBufferSize()) {
    Reset();
    return;
  }
  if (packet.marker) {
    if (!frame_.empty()) CompleteFrame(packet.timestamp);
    parameterSetsPending_ = false;
  }
}

void CH264RTPMediaParser::ProcessFrame(uint32_t timestamp) {
  if (!client_ || frame_.empty()) return;
  Append(kAccessUnitDelimiter, sizeof(kAccessUnitDelimiter));
  uint32_t code = MakeFourCC('I', '2', '6', '4');
  uint16_t width = 0, height = 0;
  if (FindSPSSize(frame_.data(), frame_.size(), &width, &height)) {
    width_ = width;
    height_ = height;
    code = MakeFourCC('H', '2', '6', '4');
    waitingForKeyFrame_ = false;
  } else if (waitingForKeyFrame_) {
    return;
  }
  const HandOver result = Deliver(code, CapacityClass(frame_.size()), frame_.data(), frame_.size(), nullptr, 0, timestamp);
  if (result == HandOver::AllocationFailed || result == HandOver::CopyFailed) {
    if (driver_)
      driver_->Log(LogError, "%s: Data copying error, device %s", "norvale::CH264RTPMediaParser::ProcessFrame",
                   driver_->GetDeviceName().c_str());
    Reset();
  } else if (result == HandOver::Refused) {
    Reset();
  }
}

}  // namespace norvale
