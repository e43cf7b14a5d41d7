#include "streaming/CMP4Parser.h"

#include "streaming/CBitReader.h"

namespace norvale {
namespace {

constexpr uint32_t kMaxDimension = 32000;

// Start codes (00 00 01 xx) of the visual layers.
constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kVisualObject = 0xB5;
constexpr uint8_t kLastVideoObject = 0x1F;  // video objects 00 .. 1F
constexpr uint8_t kFirstVideoObjectLayer = 0x20;
constexpr uint8_t kLastVideoObjectLayer = 0x2F;
// aspect_ratio_info: the pixel aspect ratio follows as width and height.
constexpr uint32_t kExtendedPar = 0xF;
constexpr uint32_t kShapeRectangular = 0;

// H.263: the 22-bit picture start code, PTYPE source format 7 (extended PTYPE follows) and the
// custom picture format of OPPTYPE.
constexpr uint32_t kPictureStartCode = 0x20;
constexpr uint32_t kExtendedPType = 7;
constexpr uint32_t kCustomFormat = 6;

bool IsStartCode(const uint8_t* data, size_t size, size_t pos) {
  return pos + 3 < size && data[pos] == 0 && data[pos + 1] == 0 && data[pos + 2] == 1;
}

// Position of the next start code at or after pos; size when there is none.
size_t NextStartCode(const uint8_t* data, size_t size, size_t pos) {
  while (pos + 3 < size && !IsStartCode(data, size, pos)) ++pos;
  return pos + 3 < size ? pos : size;
}

unsigned BitsFor(uint32_t resolution) {
  // Bits needed to code the values 0 .. resolution - 1, at least one.
  unsigned bits = 1;
  while (bits < 32 && (uint64_t{1} << bits) < resolution) ++bits;
  return bits;
}

}  // namespace

bool CMP4Parser::Parse(const uint8_t* data, size_t size, uint16_t* width, uint16_t* height) {
  if (!data || size < 4) return false;
  uint32_t w = 0, h = 0;
  bool ok = false;
  if (IsStartCode(data, size, 0)) {
    ok = ParseVideoObjectLayer(data, size, &w, &h);
  } else if (data[0] == 0 && data[1] == 0 && (data[2] & 0xFC) == 0x80) {
    ok = ParseH263(data, size, &w, &h);
  }
  if (!ok) return false;
  const uint32_t roundedWidth = (w + 15) / 16 * 16, roundedHeight = (h + 15) / 16 * 16;
  if (roundedWidth == 0 || roundedHeight == 0 || roundedWidth > kMaxDimension || roundedHeight > kMaxDimension)
    return false;
  if (w > 0 && h > 0) {
    *width = static_cast<uint16_t>(w);
    *height = static_cast<uint16_t>(h);
  } else {
    *width = static_cast<uint16_t>(roundedWidth);
    *height = static_cast<uint16_t>(roundedHeight);
  }
  return true;
}

bool CMP4Parser::ParseVideoObjectLayer(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height) {
  size_t pos = 0;
  // Visual object sequence header, user data and visual object header come before the video object.
  for (;;) {
    if (!IsStartCode(data, size, pos)) return false;
    const uint8_t code = data[pos + 3];
    if (code == kVisualObjectSequence || code == kUserData || code == kVisualObject) {
      // The sequence header carries its profile_and_level_indication byte.
      pos = NextStartCode(data, size, pos + (code == kVisualObjectSequence ? 5 : 4));
      continue;
    }
    break;
  }
  if (data[pos + 3] > kLastVideoObject) return false;
  pos = NextStartCode(data, size, pos + 4);
  while (IsStartCode(data, size, pos) && data[pos + 3] == kUserData) pos = NextStartCode(data, size, pos + 4);
  if (!IsStartCode(data, size, pos) || data[pos + 3] < kFirstVideoObjectLayer || data[pos + 3] > kLastVideoObjectLayer)
    return false;

  CBitReader r(data + pos + 4, size - pos - 4);
  r.Skip(1);      // random_accessible_vol
  r.Skip(8);      // video_object_type_indication
  if (r.Bit()) {  // is_object_layer_identifier
    r.Skip(4);    // video_object_layer_verid
    r.Skip(3);    // video_object_layer_priority
  }
  if (r.Bits(4) == kExtendedPar) {  // aspect_ratio_info
    r.Skip(8);                      // par_width
    r.Skip(8);                      // par_height
  }
  if (r.Bit()) {    // vol_control_parameters
    r.Skip(2);      // chroma_format
    r.Skip(1);      // low_delay
    if (r.Bit()) {  // vbv_parameters
      r.Skip(15);   // first_half_bit_rate
      r.Marker();
      r.Skip(15);  // latter_half_bit_rate
      r.Marker();
      r.Skip(15);  // first_half_vbv_buffer_size
      r.Marker();
      r.Skip(3);   // latter_half_vbv_buffer_size
      r.Skip(11);  // first_half_vbv_occupancy
      r.Marker();
      r.Skip(15);  // latter_half_vbv_occupancy
      r.Marker();
    }
  }
  if (r.Bits(2) != kShapeRectangular) r.Fail();  // video_object_layer_shape
  r.Marker();
  const uint32_t resolution = r.Bits(16);  // vop_time_increment_resolution
  if (resolution == 0) r.Fail();
  r.Marker();
  if (r.Bit()) r.Skip(BitsFor(resolution));  // fixed_vop_rate, fixed_vop_time_increment
  r.Marker();
  const uint32_t w = r.Bits(13);  // video_object_layer_width
  r.Marker();
  const uint32_t h = r.Bits(13);  // video_object_layer_height
  r.Marker();
  if (!r.Ok()) return false;
  *width = w;
  *height = h;
  return true;
}

bool CMP4Parser::ParseH263(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height) {
  static constexpr uint32_t kFormats[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
  CBitReader r(data, size);
  if (r.Bits(22) != kPictureStartCode) return false;  // picture start code
  r.Skip(8);                                          // temporal reference
  r.Marker();                                         // PTYPE bit 1: always 1
  if (r.Bit() != 0) r.Fail();                         // PTYPE bit 2: always 0 (distinction with H.261)
  r.Skip(3);                                          // split screen, document camera, freeze release
  const uint32_t format = r.Bits(3);                  // source format
  if (!r.Ok()) return false;
  if (format >= 1 && format <= 5) {
    *width = kFormats[format][0];
    *height = kFormats[format][1];
    return true;
  }
  if (format != kExtendedPType) return false;
  // Extended picture type: the size is only there when the update field says the options follow.
  if (r.Bits(3) != 1) return false;     // UFEP
  const uint32_t extended = r.Bits(3);  // OPPTYPE source format
  // The option bits end in the fixed pattern 1 0 0 0.
  if ((r.Bits(15) & 0xF) != 0x8) return false;  // OPPTYPE options
  if ((r.Bits(9) & 0x7) != 0x1) return false;   // MPPTYPE, ending in 0 0 1
  if (!r.Ok()) return false;
  if (extended >= 1 && extended <= 5) {
    *width = kFormats[extended][0];
    *height = kFormats[extended][1];
    return true;
  }
  if (extended != kCustomFormat) return false;
  if (r.Bit()) r.Skip(2);                      // CPM, PSBI
  r.Skip(4);                                   // pixel aspect ratio code
  const uint32_t widthIndication = r.Bits(9);  // picture width indication
  r.Marker();
  const uint32_t heightIndication = r.Bits(9);  // picture height indication
  if (!r.Ok()) return false;
  *width = (widthIndication + 1) * 4;
  *height = heightIndication * 4;
  return true;
}

}  // namespace norvale
