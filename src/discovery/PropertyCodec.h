#pragma once
// Codec numbers of the camera properties' codec sets. They run the other way from the codec numbers
// at the host boundary (ipcapture::HostCodec: JPEG 1, MPEG-4 2, H.264 3), hence a type of their own
// that does not convert to or from a plain number by itself.
#include <cstdint>

namespace norvale {

enum class PropertyCodec : uint32_t { H264 = 1, Mpeg4 = 2, Jpeg = 3 };

// The number a codec set holds.
constexpr uint32_t CodecSetNumber(PropertyCodec codec) { return static_cast<uint32_t>(codec); }

}  // namespace norvale
