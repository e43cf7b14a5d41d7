#include "streaming/CRTPPacket.h"

#include <cstring>

namespace norvale {

namespace {
constexpr size_t kFixedHeader = 12;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Read32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
}  // namespace

void CRTPPacket::Clear() {
  csrcCount = 0;
  csrcList.clear();
  ssrc = 0;
  marker = false;
  padding = false;
  payloadType = 0;
  sequenceNumber = 0;
  timestamp = 0;
  extensionProfile = 0;
  extensionLength = 0;
  extensionData.clear();
  payload.clear();
}

bool CRTPPacket::Parse(const uint8_t* data, size_t size) {
  Clear();
  if (ParseInto(data, size)) return true;
  Clear();  // a rejected packet leaves nothing half-filled behind
  return false;
}

bool CRTPPacket::ParseInto(const uint8_t* data, size_t size) {
  // A packet needs the fixed header and at least one byte after it.
  if (!data || size <= kFixedHeader) return false;
  if ((data[0] & 0xC0) != 0x80) return false;  // version 2

  const bool hasPadding = (data[0] & 0x20) != 0;
  const bool hasExtension = (data[0] & 0x10) != 0;
  const uint8_t count = data[0] & 0x0F;
  size_t offset = kFixedHeader;

  if (count > 0) {
    const size_t bytes = size_t{count} * 4;
    if (bytes >= size - kFixedHeader) return false;
    csrcList.assign(data + offset, data + offset + bytes);
    offset += bytes;
  }

  if (hasExtension) {
    if (size - offset < 4) return false;
    const uint16_t profile = Read16(data + offset);
    const uint16_t words = Read16(data + offset + 2);
    offset += 4;
    if (words > 0) {
      const size_t bytes = size_t{words} * 4;
      if (bytes > size - offset) return false;
      extensionData.assign(data + offset, data + offset + bytes);
      offset += bytes;
    }
    extensionProfile = profile;
    extensionLength = words;
  }

  size_t padCount = 0;
  if (hasPadding) padCount = data[size - 1];
  if (offset + padCount > size) return false;

  csrcCount = count;
  padding = hasPadding;
  marker = (data[1] & 0x80) != 0;
  payloadType = data[1] & 0x7F;
  sequenceNumber = Read16(data + 2);
  timestamp = Read32(data + 4);
  std::memcpy(&ssrc, data + 8, sizeof ssrc);
  payload.assign(data + offset, data + size - padCount);
  return true;
}

}  // namespace norvale
