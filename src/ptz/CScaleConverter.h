#pragma once
#include <cstdint>

namespace norvale {

// Maps a value linearly from an input range onto an output range, clamping it into the input range
// first. The bounds of each range may be given in either order.
class CScaleConverter {
 public:
  CScaleConverter() = default;  // input 1-16, output 0-0
  virtual ~CScaleConverter() = default;

  void SetInputRange(uint32_t a, uint32_t b);
  void SetOutputRange(uint32_t a, uint32_t b);
  // The value is compared as unsigned, so a negative one clamps to the input maximum.
  uint32_t Convert(int32_t value) const;

 private:
  uint32_t inMin_ = 1;
  uint32_t inMax_ = 16;
  uint32_t outMin_ = 0;
  uint32_t outMax_ = 0;
};

}  // namespace norvale
