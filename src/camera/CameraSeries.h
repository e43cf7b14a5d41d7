#pragma once
// The camera series number (0 to 9) the name mapper derives from the model name, or a discovery step
// from the camera's resolution configuration; it selects per-model behaviour elsewhere.
#include <cstdint>

namespace norvale::series {

constexpr uint32_t kUnknown = 0;
// Set by discovery when the model name decided nothing: four resolution-configuration entries mean
// series 5, five entries (a multi-stream camera) series 7.
constexpr uint32_t kFourResolutionEntries = 5;
constexpr uint32_t kMultiStream = 7;

constexpr bool IsKnown(int64_t s) { return s != kUnknown; }
// These cameras send JPEG at most at 1920 x 1080.
constexpr bool LimitsJpegToFullHd(int64_t s) { return s == kMultiStream; }
// A camera of this series that reports PTZ abilities may be a fisheye lens with digital PTZ only.
constexpr bool MayBeFisheye(int64_t s) { return s == kMultiStream; }

}  // namespace norvale::series
