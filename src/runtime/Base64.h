#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norvale {

// RFC 4648 alphabet with "=" padding, one unbroken token.
std::string Base64Encode(const uint8_t* data, size_t size);
inline std::string Base64Encode(const std::string& text) {
  return Base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Decodes the alphabet's characters and skips every other one (padding and white space too); stops
// at a NUL character. A text that would decode to more than maxBytes yields an empty result.
std::vector<uint8_t> Base64Decode(const std::string& text, size_t maxBytes = 256);

}  // namespace norvale
