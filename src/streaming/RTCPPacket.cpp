#include "streaming/RTCPPacket.h"

#include <cstring>

namespace norvale::rtcp {
namespace {

constexpr uint64_t kDelayUnitsPerSecond = 65536;

void PutWord(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

}  // namespace

void BuildReceiverReport(uint8_t* out, const uint8_t ownSsrc[4], const uint8_t reporteeSsrc[4],
                         uint32_t extendedHighestSequence, const uint8_t lastSrStamp[4], uint32_t delaySinceLastSr) {
  out[0] = kFirstByteCountOne;
  out[kPacketTypeOffset] = kReceiverReport;
  out[kLengthOffset] = 0;
  out[kLengthOffset + 1] = kReceiverReportLength;
  std::memcpy(out + kReporterSsrcOffset, ownSsrc, 4);
  std::memcpy(out + kReporteeSsrcOffset, reporteeSsrc, 4);
  PutWord(out + kLostOffset, 0);  // fraction and cumulative number lost are not computed
  PutWord(out + kHighestSequenceOffset, extendedHighestSequence);
  PutWord(out + kJitterOffset, 0);  // jitter is not computed
  std::memcpy(out + kLastSrOffset, lastSrStamp, 4);
  PutWord(out + kDelaySinceLastSrOffset, delaySinceLastSr);
}

void BuildBye(uint8_t* out, const uint8_t ownSsrc[4]) {
  out[0] = kFirstByteCountOne;
  out[kPacketTypeOffset] = kBye;
  out[kLengthOffset] = 0;
  out[kLengthOffset + 1] = kByeLength;
  std::memcpy(out + kByeSsrcOffset, ownSsrc, 4);
}

uint32_t DelaySinceLastSr(uint32_t nowMs, uint32_t reportTimeMs) {
  if (reportTimeMs == 0) return 0;
  const uint32_t elapsed = nowMs - reportTimeMs;  // modulo 2^32
  return static_cast<uint32_t>(static_cast<uint64_t>(elapsed) * kDelayUnitsPerSecond / 1000);
}

}  // namespace norvale::rtcp
