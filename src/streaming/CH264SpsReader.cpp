#include "streaming/CH264SpsReader.h"

#include "streaming/CBitReader.h"
#include "streaming/H264Nal.h"

namespace norvale {
namespace {

// profile_idc values whose SPS carries the chroma format, bit depths and scaling matrices: the high
// profiles and the 4:4:4, scalable and multiview ones that share their syntax.
bool HasChromaFields(uint32_t profile) {
  switch (profile) {
    case 44:  // CAVLC 4:4:4 Intra
    case 83:  // Scalable Baseline
    case 86:  // Scalable High
      return true;
    default:
      return profile >= 100;  // High and above
  }
}

constexpr uint32_t kChroma444 = 3;

// scaling_list(): only stepped over; 7.3.2.1.1.1.
void SkipScalingList(CBitReader& r, unsigned size) {
  int32_t last = 8, next = 8;
  for (unsigned j = 0; j < size && r.Ok(); ++j) {
    if (next != 0) {
      const int32_t delta = r.SE(-128, 127);  // delta_scale
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
}

}  // namespace

bool CH264SpsReader::ReadPictureSize(const uint8_t* nal, size_t size, uint16_t* width, uint16_t* height) {
  if (!nal || size < 2) return false;
  CBitReader r(nal + 1, size - 1, true);  // after the NAL unit header
  const uint32_t profile = r.Bits(8);     // profile_idc
  r.Skip(8);                              // constraint_set0..5_flag, reserved_zero_2bits
  r.Skip(8);                              // level_idc
  r.UE(31);                               // seq_parameter_set_id

  uint32_t chromaFormat = 1, separatePlanes = 0;
  if (HasChromaFields(profile)) {
    chromaFormat = r.UE(3);                                    // chroma_format_idc
    if (chromaFormat == kChroma444) separatePlanes = r.Bit();  // separate_colour_plane_flag
    r.UE(6);                                                   // bit_depth_luma_minus8
    r.UE(6);                                                   // bit_depth_chroma_minus8
    r.Bit();                                                   // qpprime_y_zero_transform_bypass_flag
    if (r.Bit()) {                                             // seq_scaling_matrix_present_flag
      const unsigned lists = chromaFormat == kChroma444 ? 12 : 8;
      for (unsigned i = 0; i < lists && r.Ok(); ++i)
        if (r.Bit()) SkipScalingList(r, i < 6 ? 16 : 64);  // seq_scaling_list_present_flag[i]
    }
  }

  r.UE(12);                          // log2_max_frame_num_minus4
  const uint32_t pocType = r.UE(2);  // pic_order_cnt_type
  if (pocType == 0) {
    r.UE(12);  // log2_max_pic_order_cnt_lsb_minus4
  } else if (pocType == 1) {
    r.Bit();                                                // delta_pic_order_always_zero_flag
    r.SE();                                                 // offset_for_non_ref_pic
    r.SE();                                                 // offset_for_top_to_bottom_field
    const uint32_t cycle = r.UE(255);                       // num_ref_frames_in_pic_order_cnt_cycle
    for (uint32_t i = 0; i < cycle && r.Ok(); ++i) r.SE();  // offset_for_ref_frame[i]
  }
  r.UE();                                 // max_num_ref_frames
  r.Bit();                                // gaps_in_frame_num_value_allowed_flag
  const uint32_t widthMbs = r.UE();       // pic_width_in_mbs_minus1
  const uint32_t heightUnits = r.UE();    // pic_height_in_map_units_minus1
  const uint32_t frameMbsOnly = r.Bit();  // frame_mbs_only_flag
  if (!frameMbsOnly) r.Bit();             // mb_adaptive_frame_field_flag
  r.Bit();                                // direct_8x8_inference_flag
  uint32_t crop[4] = {0, 0, 0, 0};
  if (r.Bit()) {       // frame_cropping_flag
    crop[0] = r.UE();  // frame_crop_left_offset
    crop[1] = r.UE();  // frame_crop_right_offset
    crop[2] = r.UE();  // frame_crop_top_offset
    crop[3] = r.UE();  // frame_crop_bottom_offset
  }
  if (!r.Ok()) return false;

  const uint64_t fieldFactor = frameMbsOnly ? 1 : 2;
  const uint64_t codedWidth = (uint64_t{widthMbs} + 1) * 16;
  const uint64_t codedHeight = fieldFactor * (uint64_t{heightUnits} + 1) * 16;
  // Cropping counts in chroma sample units (luma samples for monochrome or separate planes).
  const uint32_t chromaArrayType = separatePlanes ? 0 : chromaFormat;
  const uint64_t subWidth = (chromaArrayType == 1 || chromaArrayType == 2) ? 2 : 1;
  const uint64_t subHeight = chromaArrayType == 1 ? 2 : 1;
  const uint64_t cropWidth = subWidth * (uint64_t{crop[0]} + crop[1]);
  const uint64_t cropHeight = subHeight * fieldFactor * (uint64_t{crop[2]} + crop[3]);
  if (cropWidth >= codedWidth || cropHeight >= codedHeight) return false;
  const uint64_t w = codedWidth - cropWidth, h = codedHeight - cropHeight;
  if (w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF) return false;
  *width = static_cast<uint16_t>(w);
  *height = static_cast<uint16_t>(h);
  return true;
}

bool CH264SpsReader::FindPictureSize(const uint8_t* data, size_t size, uint16_t* width, uint16_t* height) {
  if (!data) return false;
  auto startCodeAt = [&](size_t i) { return data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1; };
  for (size_t i = 0; i + 3 < size && i + 3 < kSearchWindow; ++i) {
    if (!startCodeAt(i) || h264::TypeOf(data[i + 3]) != h264::kNalSps) continue;
    const size_t begin = i + 3;
    size_t end = begin + 1;
    while (end + 2 < size && !startCodeAt(end)) ++end;
    if (end + 2 >= size) end = size;
    return ReadPictureSize(data + begin, end - begin, width, height);
  }
  return false;
}

}  // namespace norvale
