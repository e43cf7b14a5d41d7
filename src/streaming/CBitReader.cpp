#include "streaming/CBitReader.h"

namespace norvale {

void CBitReader::Init(const uint8_t* data, size_t size, bool skipEmulationPrevention) {
  data_ = data;
  size_ = data ? size : 0;
  pos_ = 0;
  skipEp_ = skipEmulationPrevention;
  failed_ = false;
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

uint32_t CBitReader::Bits(unsigned n) {
  if (failed_) return 0;
  if (n > 32) {
    failed_ = true;
    return 0;
  }
  uint64_t result = 0;
  while (n > 0) {
    if (bitsLeft_ == 0 && !LoadByte()) {
      failed_ = true;
      return 0;
    }
    const unsigned take = n < bitsLeft_ ? n : bitsLeft_;
    const unsigned shift = bitsLeft_ - take;
    const uint32_t bits = (current_ >> shift) & ((1u << take) - 1u);
    result = (result << take) | bits;
    bitsLeft_ -= take;
    n -= take;
  }
  return static_cast<uint32_t>(result);
}

void CBitReader::Skip(unsigned n) {
  while (n > 32 && !failed_) {
    Bits(32);
    n -= 32;
  }
  Bits(n);
}

uint32_t CBitReader::UE(uint32_t max) {
  unsigned leadingZeros = 0;
  while (!failed_ && Bits(1) == 0) {
    if (++leadingZeros > 32) failed_ = true;
  }
  if (failed_) return 0;
  const uint64_t result = ((uint64_t{1} << leadingZeros) - 1) + Bits(leadingZeros);
  if (failed_ || result > max) {
    failed_ = true;
    return 0;
  }
  return static_cast<uint32_t>(result);
}

int32_t CBitReader::SE(int64_t min, int64_t max) {
  const uint32_t code = UE();
  // 0, 1, -1, 2, -2 ...
  const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
  const int64_t result = (code & 1) ? magnitude : -magnitude;
  if (failed_ || result < min || result > max) {
    failed_ = true;
    return 0;
  }
  return static_cast<int32_t>(result);
}

void CBitReader::Marker() {
  if (Bits(1) != 1) failed_ = true;
}

}  // namespace norvale
