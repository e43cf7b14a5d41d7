#pragma once
// The H.264 NAL unit header and the RTP packet types built on it (RFC 6184), and the Annex B byte
// stream framing the depacketizer produces.
#include <cstddef>
#include <cstdint>

namespace norvale::h264 {

// NAL unit header: forbidden_zero_bit (1) | nal_ref_idc (2) | nal_unit_type (5).
constexpr uint8_t kForbiddenBitMask = 0x80;
constexpr uint8_t kRefIdcMask = 0x60;
constexpr uint8_t kTypeMask = 0x1F;
// forbidden_zero_bit and nal_ref_idc together: what a FU indicator passes on to the rebuilt header.
constexpr uint8_t kHeaderHighBitsMask = kForbiddenBitMask | kRefIdcMask;

enum NalType : uint8_t {
  kNalSliceNonIdr = 1,  // coded slice of a non-IDR picture
  kNalIdr = 5,          // coded slice of an IDR picture
  kNalSei = 6,          // supplemental enhancement information
  kNalSps = 7,          // sequence parameter set
  kNalPps = 8,          // picture parameter set
  kNalAud = 9,          // access unit delimiter
  kNalLastSingle = 23,  // 1..23: one NAL unit per RTP packet
  kStapA = 24,          // single-time aggregation packet
  kStapB = 25,          // single-time aggregation packet with decoding order number
  kMtap16 = 26,         // multi-time aggregation packet, 16-bit time offsets
  kMtap24 = 27,         // multi-time aggregation packet, 24-bit time offsets
  kFuA = 28,            // fragmentation unit
  kFuB = 29,            // fragmentation unit with decoding order number
};

constexpr uint8_t TypeOf(uint8_t header) { return header & kTypeMask; }
constexpr bool IsSingleUnit(uint8_t type) { return type >= kNalSliceNonIdr && type <= kNalLastSingle; }
// Coded slices (types 1 to 5: non-IDR, data partitions A to C, IDR).
constexpr bool IsSlice(uint8_t type) { return type >= kNalSliceNonIdr && type <= kNalIdr; }

// STAP-A: the packet header byte, then per unit a 16-bit big-endian size and the unit.
constexpr size_t kStapHeaderSize = 1;
constexpr size_t kStapUnitSizeField = 2;

// FU-A: FU indicator (F, NRI, type 28), FU header (S | E | R | original nal_unit_type), fragment.
constexpr size_t kFuHeaderSize = 2;
constexpr uint8_t kFuStartBit = 0x80;
constexpr uint8_t kFuEndBit = 0x40;

// Annex B framing.
constexpr uint8_t kStartCode[3] = {0x00, 0x00, 0x01};
// Access unit delimiter: start code, NAL header (nal_ref_idc 0, type 9), then primary_pic_type 1
// (I and P slices) in the top three bits, the RBSP stop bit and alignment zeros.
constexpr uint8_t kAccessUnitDelimiter[5] = {0x00, 0x00, 0x01, kNalAud, 0x30};

}  // namespace norvale::h264
