// MPEG-4 video object layer and H.263 picture header reader: any bytes either fail or give a size
// within the limits.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/CMP4Parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the end is caught.
  const std::vector<uint8_t> copy(data, data + size);
  norvale::CMP4Parser parser;
  uint16_t width = 0, height = 0;
  if (parser.Parse(copy.data(), copy.size(), &width, &height)) {
    if (width == 0 || height == 0 || width > 32000 || height > 32000) __builtin_trap();
  }
  return 0;
}
