#pragma once
#include <cstddef>
#include <cstdint>

namespace norvale::rtcp {

enum : uint8_t { kSenderReport = 200, kReceiverReport = 201, kSourceDescription = 202, kBye = 203 };

// The common header: V (2) | P (1) | count (5), packet type (8), length in 32-bit words minus one (16).
constexpr unsigned kVersionShift = 6;
constexpr uint8_t kVersion = 2;
constexpr size_t kPacketTypeOffset = 1;
constexpr size_t kLengthOffset = 2;
constexpr size_t kHeaderSize = 4;
// Version 2, no padding, count 1 (one report block, or one source in a BYE).
constexpr uint8_t kFirstByteCountOne = (kVersion << kVersionShift) | 1;

constexpr uint8_t VersionOf(uint8_t firstByte) { return firstByte >> kVersionShift; }
// A packet's size in bytes from its length field.
constexpr size_t PacketSize(uint16_t lengthField) { return (static_cast<size_t>(lengthField) + 1) * 4; }

// Sender report: header, sender SSRC (4), NTP time stamp (8), RTP time stamp (4), counts (8).
constexpr size_t kSenderSsrcOffset = 4;
constexpr size_t kNtpTimestampOffset = 8;
// The last-SR stamp a receiver report echoes is the middle 32 bits of the 64-bit NTP time stamp: the
// low 16 bits of the seconds and the high 16 bits of the fraction.
constexpr size_t kNtpMiddleOffset = kNtpTimestampOffset + 2;
// A sender report holds at least its header, the sender's SSRC and the sender info.
constexpr size_t kMinSenderReportSize = 28;

// Receiver report with one report block, its fields by offset.
constexpr size_t kReceiverReportSize = 32;
constexpr uint16_t kReceiverReportLength = kReceiverReportSize / 4 - 1;
constexpr size_t kReporterSsrcOffset = 4;
constexpr size_t kReporteeSsrcOffset = 8;
constexpr size_t kLostOffset = 12;              // fraction lost (8), cumulative number lost (24)
constexpr size_t kHighestSequenceOffset = 16;   // extended highest sequence number received
constexpr size_t kJitterOffset = 20;            // interarrival jitter
constexpr size_t kLastSrOffset = 24;            // LSR: middle 32 bits of the last SR's NTP time
constexpr size_t kDelaySinceLastSrOffset = 28;  // DLSR, in units of 1/65536 s

// BYE for one source: header and its SSRC.
constexpr size_t kByeSize = 8;
constexpr uint16_t kByeLength = kByeSize / 4 - 1;
constexpr size_t kByeSsrcOffset = 4;

// Calls visit(type, packet, size) for every packet of a compound RTCP datagram, in order. Each
// packet's size comes from its length field ((length + 1) x 4 bytes); the walk stops at a packet that
// would run past the datagram, so visit only ever sees whole packets inside [data, data + size).
template <typename Visit>
void WalkCompound(const uint8_t* data, size_t size, Visit&& visit) {
  if (!data) return;
  size_t pos = 0;
  while (size - pos >= kHeaderSize) {
    const uint8_t* header = data + pos;
    const size_t packetSize =
        PacketSize(static_cast<uint16_t>((header[kLengthOffset] << 8) | header[kLengthOffset + 1]));
    if (packetSize > size - pos) return;
    visit(header[kPacketTypeOffset], header, packetSize);
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
