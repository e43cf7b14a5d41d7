#pragma once
#include <cstddef>
#include <cstdint>

namespace norvale::rtcp {

enum : uint8_t { kSenderReport = 200, kReceiverReport = 201, kSourceDescription = 202, kBye = 203 };
constexpr size_t kReceiverReportSize = 32;
constexpr size_t kByeSize = 8;
// A sender report holds at least its header, the sender's SSRC and the sender info.
constexpr size_t kMinSenderReportSize = 28;

// Calls visit(type, packet, size) for every packet of a compound RTCP datagram, in order. Each
// packet's size comes from its length field ((length + 1) x 4 bytes); the walk stops at a packet that
// would run past the datagram, so visit only ever sees whole packets inside [data, data + size).
template <typename Visit>
void WalkCompound(const uint8_t* data, size_t size, Visit&& visit) {
  if (!data) return;
  size_t pos = 0;
  while (size - pos >= 4) {
    const size_t packetSize = ((static_cast<size_t>(data[pos + 2]) << 8) | data[pos + 3]) * 4 + 4;
    if (packetSize > size - pos) return;
    visit(data[pos + 1], data + pos, packetSize);
    pos += packetSize;
  }
}

// The 32-byte receiver report with one report block.
void BuildReceiverReport(uint8_t* out, const uint8_t ownSsrc[4], const uint8_t reporteeSsrc[4],
                         uint32_t extendedHighestSequence, const uint8_t lastSrStamp[4], uint32_t delaySinceLastSr);
// The 8-byte goodbye for our own source.
void BuildBye(uint8_t* out, const uint8_t ownSsrc[4]);
// Delay since the last sender report in units of 1/65536 s, from two tick counts in milliseconds;
// 0 when no report time is stored.
uint32_t DelaySinceLastSr(uint32_t nowMs, uint32_t reportTimeMs);

}  // namespace norvale::rtcp
