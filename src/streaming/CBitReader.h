#pragma once
#include <cstddef>
#include <cstdint>

namespace norvale {

// Reads a bit string most significant bit first, with the Exp-Golomb codes of H.264. Every read
// fails (and leaves the value untouched) once the data runs out; nothing outside [data, data + size)
// is ever touched. For H.264 NAL unit payloads the emulation prevention bytes (the 03 of 00 00 03)
// can be stepped over, so the reader sees the raw byte sequence payload.
class CBitReader {
 public:
  CBitReader() = default;
  CBitReader(const uint8_t* data, size_t size, bool skipEmulationPrevention = false) {
    Init(data, size, skipEmulationPrevention);
  }
  void Init(const uint8_t* data, size_t size, bool skipEmulationPrevention = false);

  // n from 0 to 32.
  bool ReadBits(unsigned n, uint32_t* value);
  bool ReadBit(uint32_t* value) { return ReadBits(1, value); }
  bool Skip(unsigned n);
  // Unsigned Exp-Golomb; fails for codes longer than 32 bits of value.
  bool ReadUE(uint32_t* value);
  // Signed Exp-Golomb.
  bool ReadSE(int32_t* value);
  // Reads one bit that must be 1 (a marker bit).
  bool ReadMarker();

 private:
  bool LoadByte();

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool skipEp_ = false;
  unsigned zeros_ = 0;
  uint8_t current_ = 0;
  unsigned bitsLeft_ = 0;
};

}  // namespace norvale
