// SPS picture size: any bytes either fail or give a size within the 16-bit range, with the search in
// an Annex B sequence agreeing with the direct read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/CH264SpsReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint16_t width = 0, height = 0;
  const bool direct = norvale::CH264SpsReader::ReadPictureSize(data, size, &width, &height);
  if (direct && (width == 0 || height == 0)) __builtin_trap();
  if (size > 0 && (data[0] & 0x1F) == 7 && size < 60) {
    std::vector<uint8_t> annexB = {0, 0, 1};
    annexB.insert(annexB.end(), data, data + size);
    uint16_t w2 = 0, h2 = 0;
    const bool found = norvale::CH264SpsReader::FindPictureSize(annexB.data(), annexB.size(), &w2, &h2);
    // The search stops the SPS at the next start code; without one inside, both reads agree.
    bool startCodeInside = false;
    for (size_t i = 0; i + 2 < size; ++i)
      if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) startCodeInside = true;
    if (!startCodeInside && (found != direct || (found && (w2 != width || h2 != height)))) __builtin_trap();
  }
  return 0;
}
