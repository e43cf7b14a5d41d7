#include "ptz/CScaleConverter.h"

#include <algorithm>

namespace norvale {

void CScaleConverter::SetInputRange(uint32_t a, uint32_t b) {
  inMin_ = std::min(a, b);
  inMax_ = std::max(a, b);
}

void CScaleConverter::SetOutputRange(uint32_t a, uint32_t b) {
  outMin_ = std::min(a, b);
  outMax_ = std::max(a, b);
}

uint32_t CScaleConverter::Convert(int32_t value) const {
  const uint32_t inWidth = inMax_ - inMin_;
  const uint32_t outWidth = outMax_ - outMin_;
  // A range without width has one sensible answer: the middle of the output range.
  if (inWidth == 0 || outWidth == 0) return static_cast<uint32_t>((uint64_t{outMin_} + outMax_) / 2);
  const uint32_t clamped = std::clamp(static_cast<uint32_t>(value), inMin_, inMax_);
  double r = static_cast<double>(clamped - inMin_) * outWidth / inWidth;
  r = std::min(r, static_cast<double>(outWidth));
  return outMin_ + static_cast<uint32_t>(r + 0.5);
}

}  // namespace norvale
