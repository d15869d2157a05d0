// The H.264 sequence parameter set: every field is read in order up to the
// trailing bits, so a set that is cut short anywhere, even inside the video
// usability information, is reported instead of half-read.
#include <climits>
#include <cstring>

#include "platform/h264parse/BitReader.h"
#include "platform/h264parse/H264Parse.h"
#include "platform/h264parse/Syntax.h"

namespace h264parse {
namespace {

constexpr uint32_t kNalTypeSps = 7;
// The largest picture side taken as genuine, in samples. The highest levels
// stop well below it; anything larger is garbage.
constexpr int64_t kMaxSide = 16384;

// Sample aspect ratios of aspect_ratio_idc 1..16; 255 sends its own.
constexpr int kSarTable[17][2] = {
    {0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33},
    {24, 11}, {20, 11}, {32, 11}, {80, 33}, {18, 11}, {15, 11},
    {64, 33}, {160, 99}, {4, 3},  {3, 2},   {2, 1}};
constexpr uint32_t kExtendedSar = 255;

// Profiles whose sets carry chroma format, bit depths and scaling matrices.
bool hasChromaFields(uint32_t profileIdc) {
  switch (profileIdc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

// Delta-coded scaling list. A first delta that lands on zero means "use the
// default list", which is recorded as such.
int readScalingList(BitReader& r, uint8_t* list, int size, uint8_t& state) {
  int last = 8;
  int next = 8;
  state = 1;
  for (int j = 0; j < size; ++j) {
    if (next != 0) {
      int32_t delta = 0;
      H264PARSE_TRY(readSe(r, delta, -128, 127));
      next = (last + delta + 256) % 256;
      if (j == 0 && next == 0) {
        state = 2;
        std::memset(list, 0, static_cast<size_t>(size));
        return kH264ParseOk;
      }
    }
    list[j] = static_cast<uint8_t>(next == 0 ? last : next);
    last = list[j];
  }
  return kH264ParseOk;
}

int readHrd(BitReader& r) {
  uint32_t cpbCountMinus1 = 0;
  H264PARSE_TRY(readUe(r, cpbCountMinus1, 31));
  H264PARSE_TRY(skipBits(r, 8));  // bit_rate_scale, cpb_size_scale
  for (uint32_t i = 0; i <= cpbCountMinus1; ++i) {
    H264PARSE_TRY(skipUe(r));      // bit_rate_value_minus1
    H264PARSE_TRY(skipUe(r));      // cpb_size_value_minus1
    H264PARSE_TRY(skipBits(r, 1));  // cbr_flag
  }
  // The four delay and offset lengths.
  return skipBits(r, 20);
}

int readVui(BitReader& r, H264SpsInfo& s) {
  bool present = false;
  uint32_t v = 0;
  H264PARSE_TRY(readFlag(r, present));  // aspect_ratio_info_present_flag
  if (present) {
    H264PARSE_TRY(readBits(r, 8, v));
    if (v == kExtendedSar) {
      uint32_t w = 0, h = 0;
      H264PARSE_TRY(readBits(r, 16, w));
      H264PARSE_TRY(readBits(r, 16, h));
      s.sarWidth = static_cast<int32_t>(w);
      s.sarHeight = static_cast<int32_t>(h);
    } else if (v < 17) {
      s.sarWidth = kSarTable[v][0];
      s.sarHeight = kSarTable[v][1];
    }
  }
  H264PARSE_TRY(readFlag(r, present));  // overscan_info_present_flag
  if (present) H264PARSE_TRY(skipBits(r, 1));
  H264PARSE_TRY(readFlag(r, present));  // video_signal_type_present_flag
  if (present) {
    H264PARSE_TRY(skipBits(r, 4));  // video_format, video_full_range_flag
    H264PARSE_TRY(readFlag(r, present));  // colour_description_present_flag
    if (present) H264PARSE_TRY(skipBits(r, 24));
  }
  H264PARSE_TRY(readFlag(r, present));  // chroma_loc_info_present_flag
  if (present) {
    H264PARSE_TRY(readUe(r, v, 5));
    H264PARSE_TRY(readUe(r, v, 5));
  }
  H264PARSE_TRY(readFlag(r, present));  // timing_info_present_flag
  if (present) {
    H264PARSE_TRY(readBits(r, 32, s.numUnitsInTick));
    H264PARSE_TRY(readBits(r, 32, s.timeScale));
    bool fixed = false;
    H264PARSE_TRY(readFlag(r, fixed));
    s.fixedFrameRate = fixed;
  }
  bool nalHrd = false, vclHrd = false;
  H264PARSE_TRY(readFlag(r, nalHrd));
  if (nalHrd) H264PARSE_TRY(readHrd(r));
  H264PARSE_TRY(readFlag(r, vclHrd));
  if (vclHrd) H264PARSE_TRY(readHrd(r));
  if (nalHrd || vclHrd) H264PARSE_TRY(skipBits(r, 1));  // low_delay_hrd_flag
  H264PARSE_TRY(skipBits(r, 1));                        // pic_struct_present_flag
  H264PARSE_TRY(readFlag(r, present));                  // bitstream_restriction_flag
  if (present) {
    H264PARSE_TRY(skipBits(r, 1));  // motion_vectors_over_pic_boundaries_flag
    H264PARSE_TRY(readUe(r, v, 16));  // max_bytes_per_pic_denom
    H264PARSE_TRY(readUe(r, v, 16));  // max_bits_per_mb_denom
    H264PARSE_TRY(readUe(r, v, 16));  // log2_max_mv_length_horizontal
    H264PARSE_TRY(readUe(r, v, 16));  // log2_max_mv_length_vertical
    H264PARSE_TRY(readUe(r, v, 16));  // max_num_reorder_frames
    H264PARSE_TRY(readUe(r, v, 16));  // max_dec_frame_buffering
  }
  return kH264ParseOk;
}

int parseSps(BitReader& r, H264SpsInfo& s) {
  uint32_t v = 0;
  bool flag = false;

  H264PARSE_TRY(readBits(r, 8, v));  // NAL unit header
  if ((v & 0x80) != 0 || (v & 0x1F) != kNalTypeSps) return kH264ParseInvalid;

  H264PARSE_TRY(readBits(r, 8, v));
  s.profileIdc = static_cast<int32_t>(v);
  H264PARSE_TRY(readBits(r, 8, v));
  s.constraintFlags = static_cast<int32_t>(v);
  H264PARSE_TRY(readBits(r, 8, v));
  s.levelIdc = static_cast<int32_t>(v);
  H264PARSE_TRY(readUe(r, v, 31));
  s.spsId = static_cast<int32_t>(v);

  s.chromaFormatIdc = 1;
  s.bitDepthLuma = 8;
  s.bitDepthChroma = 8;
  if (hasChromaFields(static_cast<uint32_t>(s.profileIdc))) {
    H264PARSE_TRY(readUe(r, v, 3));
    s.chromaFormatIdc = static_cast<int32_t>(v);
    if (s.chromaFormatIdc == 3) {
      H264PARSE_TRY(readFlag(r, flag));
      s.separateColourPlane = flag;
    }
    H264PARSE_TRY(readUe(r, v, 6));
    s.bitDepthLuma = static_cast<int32_t>(8 + v);
    H264PARSE_TRY(readUe(r, v, 6));
    s.bitDepthChroma = static_cast<int32_t>(8 + v);
    H264PARSE_TRY(skipBits(r, 1));  // qpprime_y_zero_transform_bypass_flag
    H264PARSE_TRY(readFlag(r, flag));
    s.scalingMatrixPresent = flag;
    if (flag) {
      const int lists = s.chromaFormatIdc != 3 ? 8 : 12;
      for (int i = 0; i < lists; ++i) {
        bool listPresent = false;
        H264PARSE_TRY(readFlag(r, listPresent));
        if (!listPresent) continue;
        if (i < 6) {
          H264PARSE_TRY(readScalingList(r, s.scalingList4x4[i], 16, s.scalingListState[i]));
        } else {
          H264PARSE_TRY(readScalingList(r, s.scalingList8x8[i - 6], 64, s.scalingListState[i]));
        }
      }
    }
  }

  H264PARSE_TRY(readUe(r, v, 12));
  s.log2MaxFrameNum = static_cast<int32_t>(v + 4);
  H264PARSE_TRY(readUe(r, v, 2));
  s.picOrderCntType = static_cast<int32_t>(v);
  if (s.picOrderCntType == 0) {
    H264PARSE_TRY(readUe(r, v, 12));
    s.log2MaxPicOrderCntLsb = static_cast<int32_t>(v + 4);
  } else if (s.picOrderCntType == 1) {
    H264PARSE_TRY(skipBits(r, 1));  // delta_pic_order_always_zero_flag
    H264PARSE_TRY(skipSe(r));       // offset_for_non_ref_pic
    H264PARSE_TRY(skipSe(r));       // offset_for_top_to_bottom_field
    uint32_t cycle = 0;
    H264PARSE_TRY(readUe(r, cycle, 255));
    for (uint32_t i = 0; i < cycle; ++i) H264PARSE_TRY(skipSe(r));  // offset_for_ref_frame
  }
  H264PARSE_TRY(readUe(r, v, 16));
  s.maxNumRefFrames = static_cast<int32_t>(v);
  H264PARSE_TRY(skipBits(r, 1));  // gaps_in_frame_num_value_allowed_flag
  const uint32_t maxMbs = static_cast<uint32_t>(kMaxSide / 16);
  H264PARSE_TRY(readUe(r, v, maxMbs - 1));
  s.picWidthInMbs = static_cast<int32_t>(v + 1);
  H264PARSE_TRY(readUe(r, v, maxMbs - 1));
  s.picHeightInMapUnits = static_cast<int32_t>(v + 1);
  H264PARSE_TRY(readFlag(r, flag));
  s.frameMbsOnly = flag;
  if (!s.frameMbsOnly) {
    H264PARSE_TRY(readFlag(r, flag));
    s.mbAdaptiveFrameField = flag;
  }
  H264PARSE_TRY(readFlag(r, flag));
  s.direct8x8Inference = flag;

  uint32_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
  H264PARSE_TRY(readFlag(r, flag));
  if (flag) {
    for (uint32_t& c : crop) H264PARSE_TRY(readUe(r, c, UINT32_MAX - 1));
  }
  H264PARSE_TRY(readFlag(r, flag));
  s.vuiPresent = flag;
  if (flag) H264PARSE_TRY(readVui(r, s));
  H264PARSE_TRY(finishAtTrailingBits(r));

  // Crop offsets count in chroma samples horizontally and, for pictures
  // that may be coded as fields, in field lines vertically.
  const int64_t fieldFactor = s.frameMbsOnly ? 1 : 2;
  const int chromaArrayType = s.separateColourPlane ? 0 : s.chromaFormatIdc;
  const int64_t subWidth = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
  const int64_t subHeight = chromaArrayType == 1 ? 2 : 1;
  const int64_t unitX = subWidth;
  const int64_t unitY = subHeight * fieldFactor;
  const int64_t codedWidth = int64_t{s.picWidthInMbs} * 16;
  const int64_t codedHeight = int64_t{s.picHeightInMapUnits} * 16 * fieldFactor;
  if (codedHeight > kMaxSide) return kH264ParseInvalid;
  const int64_t cropX = unitX * (int64_t{crop[0]} + crop[1]);
  const int64_t cropY = unitY * (int64_t{crop[2]} + crop[3]);
  if (cropX >= codedWidth || cropY >= codedHeight) return kH264ParseInvalid;

  s.codedWidth = static_cast<int32_t>(codedWidth);
  s.codedHeight = static_cast<int32_t>(codedHeight);
  s.cropLeft = static_cast<int32_t>(unitX * crop[0]);
  s.cropRight = static_cast<int32_t>(unitX * crop[1]);
  s.cropTop = static_cast<int32_t>(unitY * crop[2]);
  s.cropBottom = static_cast<int32_t>(unitY * crop[3]);
  s.width = static_cast<int32_t>(codedWidth - cropX);
  s.height = static_cast<int32_t>(codedHeight - cropY);
  return kH264ParseOk;
}

}  // namespace
}  // namespace h264parse

extern "C" int h264_parse_sequence_parameter_set(const uint8_t* data, int bitLength,
                                                 H264SpsInfo* sps) {
  if (data == nullptr || sps == nullptr || bitLength < 0) return kH264ParseBadArgument;
  h264parse::BitReader reader(data, static_cast<size_t>(bitLength));
  // Parsed into a local copy so that a failure leaves the caller's
  // structure as it was.
  H264SpsInfo parsed{};
  const int result = h264parse::parseSps(reader, parsed);
  if (result == kH264ParseOk) *sps = parsed;
  return result;
}
