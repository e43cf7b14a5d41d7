#pragma once
#include <cstddef>
#include <cstdint>

namespace norvale {

// Reads a bit string most significant bit first, with the Exp-Golomb codes of H.264. The error is
// sticky: a read past the end, an Exp-Golomb code too long for 32 bits, a value above its allowed
// maximum, a broken marker bit or a Fail() call sets it, and from then on every read yields 0 and
// moves nothing. A parser reads its fields in a row and checks Ok() once where a decision needs the
// values. Nothing outside [data, data + size) is ever touched. For H.264 NAL unit payloads the
// emulation prevention bytes (the 03 of 00 00 03) can be stepped over, so the reader sees the raw
// byte sequence payload.
class CBitReader {
 public:
  CBitReader() = default;
  CBitReader(const uint8_t* data, size_t size, bool skipEmulationPrevention = false) {
    Init(data, size, skipEmulationPrevention);
  }
  void Init(const uint8_t* data, size_t size, bool skipEmulationPrevention = false);

  // n from 0 to 32.
  uint32_t Bits(unsigned n);
  uint32_t Bit() { return Bits(1); }
  void Skip(unsigned n);
  // Unsigned Exp-Golomb; a value above max sets the error.
  uint32_t UE(uint32_t max = UINT32_MAX);
  // Signed Exp-Golomb; a value outside [min, max] sets the error. Without limits the value is taken
  // modulo 2^32 (the one code for 2^31 reads as -2^31).
  int32_t SE(int64_t min = INT64_MIN, int64_t max = INT64_MAX);
  // One bit that must be 1 (a marker bit).
  void Marker();

  // Sets the error, for a value the caller finds out of its range.
  void Fail() { failed_ = true; }
  bool Ok() const { return !failed_; }

 private:
  bool LoadByte();

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool skipEp_ = false;
  bool failed_ = false;
  unsigned zeros_ = 0;
  uint8_t current_ = 0;
  unsigned bitsLeft_ = 0;
};

}  // namespace norvale
