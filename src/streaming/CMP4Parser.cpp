#include "streaming/CMP4Parser.h"

#include "streaming/CBitReader.h"

namespace norvale {
namespace {

constexpr uint32_t kMaxDimension = 32000;

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
    if (code == 0xB0 || code == 0xB2 || code == 0xB5) {
      pos = NextStartCode(data, size, pos + (code == 0xB0 ? 5 : 4));
      continue;
    }
    break;
  }
  if (data[pos + 3] > 0x1F) return false;  // video object start code 00 .. 1F
  pos = NextStartCode(data, size, pos + 4);
  while (IsStartCode(data, size, pos) && data[pos + 3] == 0xB2) pos = NextStartCode(data, size, pos + 4);
  if (!IsStartCode(data, size, pos) || data[pos + 3] < 0x20 || data[pos + 3] > 0x2F) return false;

  CBitReader r(data + pos + 4, size - pos - 4);
  uint32_t v = 0, verid = 1;
  if (!r.Skip(1) || !r.Skip(8)) return false;  // random_accessible_vol, video_object_type_indication
  if (!r.ReadBit(&v)) return false;            // is_object_layer_identifier
  if (v) {
    if (!r.ReadBits(4, &verid) || !r.Skip(3)) return false;
  }
  uint32_t aspect = 0;
  if (!r.ReadBits(4, &aspect)) return false;
  if (aspect == 0xF && !r.Skip(16)) return false;  // par_width, par_height
  if (!r.ReadBit(&v)) return false;                 // vol_control_parameters
  if (v) {
    uint32_t vbv = 0;
    if (!r.Skip(3) || !r.ReadBit(&vbv)) return false;  // chroma_format, low_delay
    if (vbv) {
      // bit rate (15 + marker + 15 + marker), buffer size (15 + marker + 3), occupancy (11 + marker + 15 + marker)
      if (!r.Skip(15) || !r.ReadMarker() || !r.Skip(15) || !r.ReadMarker() || !r.Skip(15) || !r.ReadMarker() ||
          !r.Skip(3) || !r.Skip(11) || !r.ReadMarker() || !r.Skip(15) || !r.ReadMarker())
        return false;
    }
  }
  uint32_t shape = 0;
  if (!r.ReadBits(2, &shape) || shape != 0) return false;  // rectangular only
  uint32_t resolution = 0, fixedRate = 0;
  if (!r.ReadMarker() || !r.ReadBits(16, &resolution) || resolution == 0 || !r.ReadMarker() ||
      !r.ReadBit(&fixedRate))
    return false;
  if (fixedRate && !r.Skip(BitsFor(resolution))) return false;
  uint32_t w = 0, h = 0;
  if (!r.ReadMarker() || !r.ReadBits(13, &w) || !r.ReadMarker() || !r.ReadBits(13, &h) || !r.ReadMarker())
    return false;
  *width = w;
  *height = h;
  return true;
}

bool CMP4Parser::ParseH263(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height) {
  static constexpr uint32_t kFormats[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
  CBitReader r(data, size);
  uint32_t v = 0;
  if (!r.ReadBits(22, &v) || v != 0x20) return false;  // picture start code
  if (!r.Skip(8)) return false;                         // temporal reference
  uint32_t one = 0, zero = 1, format = 0;
  if (!r.ReadBit(&one) || one != 1 || !r.ReadBit(&zero) || zero != 0) return false;
  if (!r.Skip(3) || !r.ReadBits(3, &format)) return false;  // split screen, document camera, freeze release
  if (format >= 1 && format <= 5) {
    *width = kFormats[format][0];
    *height = kFormats[format][1];
    return true;
  }
  if (format != 7) return false;
  // Extended picture type: the size is only there when the update field says the options follow.
  uint32_t ufep = 0;
  if (!r.ReadBits(3, &ufep) || ufep != 1) return false;
  uint32_t extended = 0, options = 0;
  // The option bits end in the fixed pattern 1 0 0 0.
  if (!r.ReadBits(3, &extended) || !r.ReadBits(15, &options) || (options & 0xF) != 0x8) return false;
  uint32_t mpptype = 0;
  if (!r.ReadBits(9, &mpptype) || (mpptype & 0x7) != 0x1) return false;
  if (extended >= 1 && extended <= 5) {
    *width = kFormats[extended][0];
    *height = kFormats[extended][1];
    return true;
  }
  if (extended != 6) return false;
  uint32_t cpm = 0;
  if (!r.ReadBit(&cpm)) return false;
  if (cpm && !r.Skip(2)) return false;  // picture sub-bitstream indicator
  uint32_t aspect = 0, widthIndication = 0, heightIndication = 0;
  if (!r.ReadBits(4, &aspect) || !r.ReadBits(9, &widthIndication) || !r.ReadMarker() ||
      !r.ReadBits(9, &heightIndication))
    return false;
  *width = (widthIndication + 1) * 4;
  *height = heightIndication * 4;
  return true;
}

}  // namespace norvale
