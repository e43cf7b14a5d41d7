#pragma once
#include <cstddef>
#include <cstdint>

namespace norvale {

// Reads the picture size from an H.264 sequence parameter set (ITU-T H.264 7.3.2.1.1).
class CH264SpsReader {
 public:
  // How far into an Annex B frame an SPS may start to mark it as a key frame.
  static constexpr size_t kSearchWindow = 64;

  // Picture size from an SPS NAL unit (header byte included): the coded size less the cropping.
  // False when the bits run out, a field is out of its range or a dimension is 0 or above 65535.
  static bool ReadPictureSize(const uint8_t* nal, size_t size, uint16_t* width, uint16_t* height);
  // Looks for a start code followed by an SPS within the first kSearchWindow bytes of an Annex B
  // sequence and reads its picture size.
  static bool FindPictureSize(const uint8_t* data, size_t size, uint16_t* width, uint16_t* height);
};

}  // namespace norvale
