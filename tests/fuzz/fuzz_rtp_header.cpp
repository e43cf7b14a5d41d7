// RTP header parser: any datagram either fails or yields fields consistent with its size.
#include <cstddef>
#include <cstdint>

#include "streaming/CRTPPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  norvale::CRTPPacket packet;
  if (!packet.Parse(data, size)) {
    if (!packet.payload.empty() || !packet.csrcList.empty() || !packet.extensionData.empty()) __builtin_trap();
    return 0;
  }
  const size_t headers = 12 + packet.csrcList.size() + (packet.extensionData.size() + ((data[0] & 0x10) ? 4 : 0));
  if (packet.csrcList.size() != size_t{packet.csrcCount} * 4) __builtin_trap();
  if (packet.extensionData.size() != size_t{packet.extensionLength} * 4) __builtin_trap();
  if (headers + packet.payload.size() > size) __builtin_trap();
  if (!packet.padding && headers + packet.payload.size() != size) __builtin_trap();
  return 0;
}
