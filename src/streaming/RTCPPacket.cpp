#include "streaming/RTCPPacket.h"

#include <cstring>

namespace norvale::rtcp {
namespace {

void PutWord(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

}  // namespace

void BuildReceiverReport(uint8_t* out, const uint8_t ownSsrc[4], const uint8_t reporteeSsrc[4],
                         uint32_t extendedHighestSequence, const uint8_t lastSrStamp[4], uint32_t delaySinceLastSr) {
  out[0] = 0x81;  // version 2, no padding, one report block
  out[1] = kReceiverReport;
  out[2] = 0;
  out[3] = 7;
  std::memcpy(out + 4, ownSsrc, 4);
  std::memcpy(out + 8, reporteeSsrc, 4);
  PutWord(out + 12, 0);  // fraction and cumulative number lost are not computed
  PutWord(out + 16, extendedHighestSequence);
  PutWord(out + 20, 0);  // jitter is not computed
  std::memcpy(out + 24, lastSrStamp, 4);
  PutWord(out + 28, delaySinceLastSr);
}

void BuildBye(uint8_t* out, const uint8_t ownSsrc[4]) {
  out[0] = 0x81;
  out[1] = kBye;
  out[2] = 0;
  out[3] = 1;
  std::memcpy(out + 4, ownSsrc, 4);
}

uint32_t DelaySinceLastSr(uint32_t nowMs, uint32_t reportTimeMs) {
  if (reportTimeMs == 0) return 0;
  const uint32_t elapsed = nowMs - reportTimeMs;  // modulo 2^32
  return static_cast<uint32_t>(static_cast<uint64_t>(elapsed) * 65536 / 1000);
}

}  // namespace norvale::rtcp
