#pragma once
#include <cstddef>
#include <cstdint>

namespace norvale {

// Reads the picture size of an MPEG-4 part 2 key frame from its video object layer header, or of an
// H.263 picture from its picture header.
class CMP4Parser {
 public:
  // False when the headers are missing, truncated, carry a broken marker bit, a non-rectangular
  // shape, or give a size that is 0 or above 32000 (rounded up to whole macroblocks).
  bool Parse(const uint8_t* data, size_t size, uint16_t* width, uint16_t* height);

 private:
  bool ParseVideoObjectLayer(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height);
  bool ParseH263(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height);
};

}  // namespace norvale
