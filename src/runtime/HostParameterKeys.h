#pragma once
// The numbered host parameters handed to the driver at Open. They are the camera properties the
// capability query reported, under the same numbers: the query writes them, the driver reads them.
#include <cstdint>

namespace norvale::hostparam {

constexpr int32_t kVideoStandard = 1;         // integer: 1 NTSC, 0 PAL; required by Open
constexpr int32_t kCameraSeries = 2;          // integer, 0 to 9 (see camera/CameraSeries.h)
constexpr int32_t kUnconvertedModel = 3;      // text, for the opening log line
constexpr int32_t kFirmwareVersion = 4;       // text, for the opening log line
constexpr int32_t kPtzCapabilities = 5;       // text form of the PTZ abilities
constexpr int32_t kPresetFileName = 6;        // text: the per-camera preset XML file
constexpr int32_t kSecondH264Stream = 7;      // integer, 1 = supported
constexpr int32_t kSupportedResolutions = 8;  // text: comma-separated resolution names
constexpr int32_t kFrameRateOption = 9;       // integer, 1 = supported
constexpr int32_t kCount = 9;

}  // namespace norvale::hostparam
