#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace norvale {

// RFC 1321 message digest.
class MD5 {
 public:
  MD5();
  void Update(const void* data, size_t size);
  void Update(const std::string& text) { Update(text.data(), text.size()); }
  void Final(uint8_t digest[16]);

  // Lower-case hexadecimal digest of a text.
  static std::string Hex(const std::string& text);

 private:
  void Transform(const uint8_t block[64]);
  uint32_t state_[4];
  uint64_t length_ = 0;
  uint8_t buffer_[64];
};

}  // namespace norvale
