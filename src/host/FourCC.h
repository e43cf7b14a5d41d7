#pragma once
// The frame format codes the host reads from a frame buffer.
#include <cstdint>

namespace norvale {

// A four-character code as the host reads it: the first character in the lowest byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

}  // namespace norvale
