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
// The other multi-stream series; only the model name gives it.
constexpr uint32_t kMultiStreamByName = 8;

constexpr bool IsKnown(int64_t s) { return s != kUnknown; }
// These cameras send JPEG at most at 1920 x 1080.
constexpr bool LimitsJpegToFullHd(int64_t s) { return s == kMultiStream; }
// A camera of this series that reports PTZ abilities may be a fisheye lens with digital PTZ only.
constexpr bool MayBeFisheye(int64_t s) { return s == kMultiStream; }

// These cameras run several streams at once (recording, live, remote), each in its own parameter
// group, with one resolution set for all of them; the others are set from the recording stream.
constexpr bool HasSeveralStreams(int64_t s) { return s == kMultiStream || s == kMultiStreamByName; }
// H.264 above 1280 x 960 (1280 wide from 960 high) runs in a high-resolution mode: its own bit-rate
// range, key frames at the resolution's highest rate and no frame skipping.
constexpr bool HasHighResolutionH264Mode(int64_t s) { return s == kFourResolutionEntries; }
// The frame-skip table is read from the highest rate of the requested resolution, not from any base.
constexpr bool SkipsFramesFromResolutionRate(int64_t s) { return s == kFourResolutionEntries; }
// With the second H.264 stream on, the H.264 bit rate goes up to 4096 kbit/s only.
constexpr bool LimitsH264BitrateWithSecondStream(int64_t s) { return s == 3; }
// The shortest key-frame interval, in frames, the camera accepts.
constexpr uint32_t MinKeyFrameInterval(int64_t s, bool secondStream) {
  if (s == 2 || s == 6 || HasSeveralStreams(s)) return 2;
  if (s == 4) return secondStream ? 2 : 1;
  return 1;
}

}  // namespace norvale::series
