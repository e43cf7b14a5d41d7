#pragma once
// JPEG markers (ITU-T T.81 B.1.1.3, Table B.1) and the JFIF application segment the RTP/JPEG
// depacketizer writes in front of the scan data. Every marker is 0xFF followed by its code.
#include <cstdint>

namespace norvale::jpeg {

constexpr uint8_t kMarkerPrefix = 0xFF;

enum Marker : uint8_t {
  kSof0 = 0xC0,  // start of frame, baseline DCT
  kDht = 0xC4,   // define Huffman tables
  kSoi = 0xD8,   // start of image
  kEoi = 0xD9,   // end of image
  kSos = 0xDA,   // start of scan
  kDqt = 0xDB,   // define quantization tables
  kDri = 0xDD,   // define restart interval
  kApp0 = 0xE0,  // application segment 0 (JFIF)
};

// Huffman table classes of a DHT segment.
constexpr uint8_t kDcTable = 0;
constexpr uint8_t kAcTable = 1;

// The component identifiers of a YCbCr frame.
constexpr uint8_t kComponentY = 1;
constexpr uint8_t kComponentCb = 2;
constexpr uint8_t kComponentCr = 3;

}  // namespace norvale::jpeg
