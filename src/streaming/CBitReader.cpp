#include "streaming/CBitReader.h"

namespace norvale {

void CBitReader::Init(const uint8_t* data, size_t size, bool skipEmulationPrevention) {
  data_ = data;
  size_ = data ? size : 0;
  pos_ = 0;
  skipEp_ = skipEmulationPrevention;
  zeros_ = 0;
  current_ = 0;
  bitsLeft_ = 0;
}

bool CBitReader::LoadByte() {
  if (pos_ >= size_) return false;
  uint8_t byte = data_[pos_++];
  if (skipEp_ && zeros_ >= 2 && byte == 0x03) {
    zeros_ = 0;
    if (pos_ >= size_) return false;
    byte = data_[pos_++];
  }
  zeros_ = byte == 0 ? zeros_ + 1 : 0;
  current_ = byte;
  bitsLeft_ = 8;
  return true;
}

bool CBitReader::ReadBits(unsigned n, uint32_t* value) {
  if (n > 32) return false;
  uint64_t result = 0;
  // Save the position so that a failed read leaves the reader where it was.
  const size_t pos = pos_;
  const unsigned zeros = zeros_, bitsLeft = bitsLeft_;
  const uint8_t current = current_;
  while (n > 0) {
    if (bitsLeft_ == 0 && !LoadByte()) {
      pos_ = pos;
      zeros_ = zeros;
      bitsLeft_ = bitsLeft;
      current_ = current;
      return false;
    }
    const unsigned take = n < bitsLeft_ ? n : bitsLeft_;
    const unsigned shift = bitsLeft_ - take;
    const uint32_t bits = (current_ >> shift) & ((1u << take) - 1u);
    result = (result << take) | bits;
    bitsLeft_ -= take;
    n -= take;
  }
  if (value) *value = static_cast<uint32_t>(result);
  return true;
}

bool CBitReader::Skip(unsigned n) {
  uint32_t ignored;
  while (n > 32) {
    if (!ReadBits(32, &ignored)) return false;
    n -= 32;
  }
  return ReadBits(n, &ignored);
}

bool CBitReader::ReadUE(uint32_t* value) {
  unsigned leadingZeros = 0;
  uint32_t bit = 0;
  for (;;) {
    if (!ReadBits(1, &bit)) return false;
    if (bit) break;
    if (++leadingZeros > 32) return false;
  }
  if (leadingZeros == 0) {
    if (value) *value = 0;
    return true;
  }
  uint32_t suffix = 0;
  if (!ReadBits(leadingZeros, &suffix)) return false;
  const uint64_t result = ((uint64_t{1} << leadingZeros) - 1) + suffix;
  if (result > 0xFFFFFFFFull) return false;
  if (value) *value = static_cast<uint32_t>(result);
  return true;
}

bool CBitReader::ReadSE(int32_t* value) {
  uint32_t code = 0;
  if (!ReadUE(&code)) return false;
  // 0, 1, -1, 2, -2 ...
  const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
  const int64_t result = (code & 1) ? magnitude : -magnitude;
  if (value) *value = static_cast<int32_t>(result);
  return true;
}

bool CBitReader::ReadMarker() {
  uint32_t bit = 0;
  return ReadBits(1, &bit) && bit == 1;
}

}  // namespace norvale
