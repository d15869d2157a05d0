// The H.265 sequence parameter set of the base layer, read in order up to
// the trailing bits. Short-term reference picture sets are decoded in full,
// because a set predicted from an earlier one has as many fields as the
// earlier one has pictures; everything else is read only to get past it.
#include <cstring>

#include "platform/h264parse/BitReader.h"
#include "platform/h264parse/H264Parse.h"
#include "platform/h264parse/Syntax.h"

namespace h264parse {
namespace {

constexpr uint32_t kNalTypeSps = 33;
// The largest picture side the highest level allows, in luma samples.
constexpr uint32_t kMaxSide = 16888;
constexpr uint32_t kMaxSubLayers = 7;
constexpr uint32_t kMaxShortTermSets = 64;
// Pictures one short-term set may list in either direction; the decoded
// picture buffer never holds more.
constexpr int kMaxRefsPerDirection = 16;

struct ShortTermSet {
  int negativeCount = 0;
  int positiveCount = 0;
  int32_t negative[kMaxRefsPerDirection] = {};  // picture order deltas, < 0
  int32_t positive[kMaxRefsPerDirection] = {};  // picture order deltas, > 0
};

// general or sub-layer profile fields between profile_space and level_idc:
// space, tier, profile, 32 compatibility flags, 4 source flags, 43 constraint
// flags and one more flag.
constexpr size_t kProfileBits = 2 + 1 + 5 + 32 + 4 + 43 + 1;

int readProfileTierLevel(BitReader& r, uint32_t maxSubLayersMinus1, H265SpsInfo& s) {
  uint32_t v = 0;
  H264PARSE_TRY(skipBits(r, 2));  // general_profile_space
  H264PARSE_TRY(readBits(r, 1, v));
  s.tierFlag = static_cast<uint8_t>(v);
  H264PARSE_TRY(readBits(r, 5, v));
  s.profileIdc = static_cast<uint8_t>(v);
  H264PARSE_TRY(skipBits(r, kProfileBits - 8));
  H264PARSE_TRY(readBits(r, 8, v));
  s.levelIdc = static_cast<uint8_t>(v);

  bool profilePresent[kMaxSubLayers] = {};
  bool levelPresent[kMaxSubLayers] = {};
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    H264PARSE_TRY(readFlag(r, profilePresent[i]));
    H264PARSE_TRY(readFlag(r, levelPresent[i]));
  }
  // The flags above are padded to eight pairs.
  if (maxSubLayersMinus1 > 0) H264PARSE_TRY(skipBits(r, 2 * (8 - maxSubLayersMinus1)));
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (profilePresent[i]) H264PARSE_TRY(skipBits(r, kProfileBits));
    if (levelPresent[i]) H264PARSE_TRY(skipBits(r, 8));
  }
  return kH264ParseOk;
}

int readScalingListData(BitReader& r) {
  for (uint32_t sizeId = 0; sizeId < 4; ++sizeId) {
    for (uint32_t matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
      bool explicitList = false;
      H264PARSE_TRY(readFlag(r, explicitList));  // scaling_list_pred_mode_flag
      if (!explicitList) {
        uint32_t delta = 0;  // copy of an earlier list, or the default one
        H264PARSE_TRY(readUe(r, delta, sizeId == 3 ? matrixId / 3 : matrixId));
        continue;
      }
      const int coefficients = sizeId == 0 ? 16 : 64;
      int32_t value = 0;
      if (sizeId > 1) H264PARSE_TRY(readSe(r, value, -7, 247));  // DC coefficient
      for (int i = 0; i < coefficients; ++i) H264PARSE_TRY(readSe(r, value, -128, 127));
    }
  }
  return kH264ParseOk;
}

int appendRef(int32_t* list, int& count, int32_t delta) {
  if (count >= kMaxRefsPerDirection) return kH264ParseInvalid;
  list[count++] = delta;
  return kH264ParseOk;
}

int readShortTermSet(BitReader& r, uint32_t index, ShortTermSet* sets) {
  ShortTermSet& set = sets[index];
  bool predicted = false;
  if (index != 0) H264PARSE_TRY(readFlag(r, predicted));
  if (predicted) {
    // In a parameter set the reference is always the set just before.
    const ShortTermSet& ref = sets[index - 1];
    bool negativeSign = false;
    uint32_t absMinus1 = 0;
    H264PARSE_TRY(readFlag(r, negativeSign));
    H264PARSE_TRY(readUe(r, absMinus1, (1u << 15) - 1));
    const int32_t deltaRps = (negativeSign ? -1 : 1) * static_cast<int32_t>(absMinus1 + 1);
    const int refCount = ref.negativeCount + ref.positiveCount;
    bool useDelta[2 * kMaxRefsPerDirection + 1] = {};
    for (int j = 0; j <= refCount; ++j) {
      bool used = false;
      H264PARSE_TRY(readFlag(r, used));  // used_by_curr_pic_flag
      useDelta[j] = true;
      if (!used) H264PARSE_TRY(readFlag(r, useDelta[j]));
    }
    // Each reference picture of the earlier set, and the earlier set's own
    // picture, moved by deltaRps and sorted into the two directions.
    for (int j = ref.positiveCount - 1; j >= 0; --j) {
      const int32_t d = ref.positive[j] + deltaRps;
      if (d < 0 && useDelta[ref.negativeCount + j]) H264PARSE_TRY(appendRef(set.negative, set.negativeCount, d));
    }
    if (deltaRps < 0 && useDelta[refCount]) H264PARSE_TRY(appendRef(set.negative, set.negativeCount, deltaRps));
    for (int j = 0; j < ref.negativeCount; ++j) {
      const int32_t d = ref.negative[j] + deltaRps;
      if (d < 0 && useDelta[j]) H264PARSE_TRY(appendRef(set.negative, set.negativeCount, d));
    }
    for (int j = ref.negativeCount - 1; j >= 0; --j) {
      const int32_t d = ref.negative[j] + deltaRps;
      if (d > 0 && useDelta[j]) H264PARSE_TRY(appendRef(set.positive, set.positiveCount, d));
    }
    if (deltaRps > 0 && useDelta[refCount]) H264PARSE_TRY(appendRef(set.positive, set.positiveCount, deltaRps));
    for (int j = 0; j < ref.positiveCount; ++j) {
      const int32_t d = ref.positive[j] + deltaRps;
      if (d > 0 && useDelta[ref.negativeCount + j]) H264PARSE_TRY(appendRef(set.positive, set.positiveCount, d));
    }
    return kH264ParseOk;
  }
  uint32_t negatives = 0, positives = 0;
  H264PARSE_TRY(readUe(r, negatives, kMaxRefsPerDirection));
  H264PARSE_TRY(readUe(r, positives, kMaxRefsPerDirection));
  int32_t poc = 0;
  for (uint32_t i = 0; i < negatives; ++i) {
    uint32_t deltaMinus1 = 0;
    H264PARSE_TRY(readUe(r, deltaMinus1, (1u << 15) - 1));
    H264PARSE_TRY(skipBits(r, 1));  // used_by_curr_pic_s0_flag
    poc -= static_cast<int32_t>(deltaMinus1 + 1);
    H264PARSE_TRY(appendRef(set.negative, set.negativeCount, poc));
  }
  poc = 0;
  for (uint32_t i = 0; i < positives; ++i) {
    uint32_t deltaMinus1 = 0;
    H264PARSE_TRY(readUe(r, deltaMinus1, (1u << 15) - 1));
    H264PARSE_TRY(skipBits(r, 1));  // used_by_curr_pic_s1_flag
    poc += static_cast<int32_t>(deltaMinus1 + 1);
    H264PARSE_TRY(appendRef(set.positive, set.positiveCount, poc));
  }
  return kH264ParseOk;
}

int readSubLayerHrd(BitReader& r, uint32_t cpbCountMinus1, bool subPicParams) {
  for (uint32_t i = 0; i <= cpbCountMinus1; ++i) {
    H264PARSE_TRY(skipUe(r));  // bit_rate_value_minus1
    H264PARSE_TRY(skipUe(r));  // cpb_size_value_minus1
    if (subPicParams) {
      H264PARSE_TRY(skipUe(r));  // cpb_size_du_value_minus1
      H264PARSE_TRY(skipUe(r));  // bit_rate_du_value_minus1
    }
    H264PARSE_TRY(skipBits(r, 1));  // cbr_flag
  }
  return kH264ParseOk;
}

int readHrd(BitReader& r, uint32_t maxSubLayersMinus1) {
  bool nalHrd = false, vclHrd = false, subPicParams = false;
  H264PARSE_TRY(readFlag(r, nalHrd));
  H264PARSE_TRY(readFlag(r, vclHrd));
  if (nalHrd || vclHrd) {
    H264PARSE_TRY(readFlag(r, subPicParams));
    // Tick divisor and three delay lengths, then the flag between them.
    if (subPicParams) H264PARSE_TRY(skipBits(r, 8 + 5 + 1 + 5));
    H264PARSE_TRY(skipBits(r, 8));  // bit_rate_scale, cpb_size_scale
    if (subPicParams) H264PARSE_TRY(skipBits(r, 4));  // cpb_size_du_scale
    H264PARSE_TRY(skipBits(r, 15));  // three delay lengths
  }
  for (uint32_t i = 0; i <= maxSubLayersMinus1; ++i) {
    bool fixedGeneral = false, fixedWithinCvs = true, lowDelay = false;
    H264PARSE_TRY(readFlag(r, fixedGeneral));
    if (!fixedGeneral) H264PARSE_TRY(readFlag(r, fixedWithinCvs));
    if (fixedWithinCvs) {
      uint32_t elementalDuration = 0;
      H264PARSE_TRY(readUe(r, elementalDuration, 2047));
    } else {
      H264PARSE_TRY(readFlag(r, lowDelay));
    }
    uint32_t cpbCountMinus1 = 0;
    if (!lowDelay) H264PARSE_TRY(readUe(r, cpbCountMinus1, 31));
    if (nalHrd) H264PARSE_TRY(readSubLayerHrd(r, cpbCountMinus1, subPicParams));
    if (vclHrd) H264PARSE_TRY(readSubLayerHrd(r, cpbCountMinus1, subPicParams));
  }
  return kH264ParseOk;
}

int readVui(BitReader& r, uint32_t maxSubLayersMinus1) {
  bool present = false;
  uint32_t v = 0;
  H264PARSE_TRY(readFlag(r, present));  // aspect_ratio_info_present_flag
  if (present) {
    H264PARSE_TRY(readBits(r, 8, v));
    if (v == 255) H264PARSE_TRY(skipBits(r, 32));  // sar_width, sar_height
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
  // neutral_chroma_indication_flag, field_seq_flag, frame_field_info_present_flag
  H264PARSE_TRY(skipBits(r, 3));
  H264PARSE_TRY(readFlag(r, present));  // default_display_window_flag
  if (present) {
    // The display window is a hint for displays; the picture size comes
    // from the conformance window alone.
    for (int i = 0; i < 4; ++i) H264PARSE_TRY(skipUe(r));
  }
  H264PARSE_TRY(readFlag(r, present));  // vui_timing_info_present_flag
  if (present) {
    H264PARSE_TRY(skipBits(r, 64));  // num_units_in_tick, time_scale
    H264PARSE_TRY(readFlag(r, present));  // vui_poc_proportional_to_timing_flag
    if (present) H264PARSE_TRY(skipUe(r));
    H264PARSE_TRY(readFlag(r, present));  // vui_hrd_parameters_present_flag
    if (present) H264PARSE_TRY(readHrd(r, maxSubLayersMinus1));
  }
  H264PARSE_TRY(readFlag(r, present));  // bitstream_restriction_flag
  if (present) {
    H264PARSE_TRY(skipBits(r, 3));
    H264PARSE_TRY(readUe(r, v, 4095));  // min_spatial_segmentation_idc
    H264PARSE_TRY(readUe(r, v, 16));    // max_bytes_per_pic_denom
    H264PARSE_TRY(readUe(r, v, 16));    // max_bits_per_min_cu_denom
    H264PARSE_TRY(readUe(r, v, 16));    // log2_max_mv_length_horizontal
    H264PARSE_TRY(readUe(r, v, 16));    // log2_max_mv_length_vertical
  }
  return kH264ParseOk;
}

int parseSps(BitReader& r, H265SpsInfo& s) {
  uint32_t v = 0;
  bool flag = false;

  H264PARSE_TRY(readBits(r, 16, v));  // NAL unit header
  const uint32_t nalType = (v >> 9) & 0x3F;
  const uint32_t layerId = (v >> 3) & 0x3F;
  const uint32_t temporalIdPlus1 = v & 0x7;
  if ((v & 0x8000) != 0 || nalType != kNalTypeSps || temporalIdPlus1 == 0) return kH264ParseInvalid;
  // Sets of the higher layers of a multi-layer stream are laid out
  // differently and never describe the base picture.
  if (layerId != 0) return kH264ParseUnsupported;

  H264PARSE_TRY(skipBits(r, 4));  // sps_video_parameter_set_id
  uint32_t maxSubLayersMinus1 = 0;
  H264PARSE_TRY(readBits(r, 3, maxSubLayersMinus1));
  if (maxSubLayersMinus1 >= kMaxSubLayers) return kH264ParseInvalid;
  s.maxSubLayers = static_cast<uint8_t>(maxSubLayersMinus1 + 1);
  H264PARSE_TRY(skipBits(r, 1));  // sps_temporal_id_nesting_flag
  H264PARSE_TRY(readProfileTierLevel(r, maxSubLayersMinus1, s));

  H264PARSE_TRY(readUe(r, v, 15));
  s.spsId = static_cast<uint8_t>(v);
  uint32_t chromaFormatIdc = 0;
  H264PARSE_TRY(readUe(r, chromaFormatIdc, 3));
  bool separateColourPlane = false;
  if (chromaFormatIdc == 3) H264PARSE_TRY(readFlag(r, separateColourPlane));
  s.chromaFormatIdc = static_cast<uint8_t>(chromaFormatIdc);
  uint32_t width = 0, height = 0;
  H264PARSE_TRY(readUe(r, width, kMaxSide));
  H264PARSE_TRY(readUe(r, height, kMaxSide));
  if (width == 0 || height == 0) return kH264ParseInvalid;
  uint32_t window[4] = {0, 0, 0, 0};  // left, right, top, bottom
  H264PARSE_TRY(readFlag(r, flag));    // conformance_window_flag
  if (flag) {
    for (uint32_t& w : window) H264PARSE_TRY(readUe(r, w, UINT32_MAX - 1));
  }
  H264PARSE_TRY(readUe(r, v, 8));
  s.bitDepthLuma = static_cast<uint8_t>(8 + v);
  H264PARSE_TRY(readUe(r, v, 8));
  s.bitDepthChroma = static_cast<uint8_t>(8 + v);
  uint32_t log2MaxPocLsbMinus4 = 0;
  H264PARSE_TRY(readUe(r, log2MaxPocLsbMinus4, 12));

  bool orderingForEachLayer = false;
  H264PARSE_TRY(readFlag(r, orderingForEachLayer));
  for (uint32_t i = orderingForEachLayer ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
    H264PARSE_TRY(readUe(r, v, 15));  // sps_max_dec_pic_buffering_minus1
    H264PARSE_TRY(readUe(r, v, 15));  // sps_max_num_reorder_pics
    H264PARSE_TRY(skipUe(r));         // sps_max_latency_increase_plus1
  }

  uint32_t log2MinCbMinus3 = 0, log2DiffCb = 0;
  H264PARSE_TRY(readUe(r, log2MinCbMinus3, 3));
  H264PARSE_TRY(readUe(r, log2DiffCb, 3));
  if (log2MinCbMinus3 + 3 + log2DiffCb > 6) return kH264ParseInvalid;
  const uint32_t minCbMask = (1u << (log2MinCbMinus3 + 3)) - 1;
  if ((width & minCbMask) != 0 || (height & minCbMask) != 0) return kH264ParseInvalid;
  H264PARSE_TRY(readUe(r, v, 3));  // log2_min_luma_transform_block_size_minus2
  H264PARSE_TRY(readUe(r, v, 3));  // log2_diff_max_min_luma_transform_block_size
  H264PARSE_TRY(readUe(r, v, 4));  // max_transform_hierarchy_depth_inter
  H264PARSE_TRY(readUe(r, v, 4));  // max_transform_hierarchy_depth_intra

  H264PARSE_TRY(readFlag(r, flag));  // scaling_list_enabled_flag
  if (flag) {
    H264PARSE_TRY(readFlag(r, flag));  // sps_scaling_list_data_present_flag
    if (flag) H264PARSE_TRY(readScalingListData(r));
  }
  H264PARSE_TRY(skipBits(r, 2));     // amp_enabled_flag, sample_adaptive_offset_enabled_flag
  H264PARSE_TRY(readFlag(r, flag));  // pcm_enabled_flag
  if (flag) {
    H264PARSE_TRY(skipBits(r, 8));  // PCM sample bit depths
    H264PARSE_TRY(readUe(r, v, 2));
    H264PARSE_TRY(readUe(r, v, 2));
    H264PARSE_TRY(skipBits(r, 1));  // pcm_loop_filter_disabled_flag
  }

  uint32_t shortTermSets = 0;
  H264PARSE_TRY(readUe(r, shortTermSets, kMaxShortTermSets));
  ShortTermSet sets[kMaxShortTermSets];
  for (uint32_t i = 0; i < shortTermSets; ++i) H264PARSE_TRY(readShortTermSet(r, i, sets));

  H264PARSE_TRY(readFlag(r, flag));  // long_term_ref_pics_present_flag
  if (flag) {
    uint32_t longTermPics = 0;
    H264PARSE_TRY(readUe(r, longTermPics, 32));
    for (uint32_t i = 0; i < longTermPics; ++i) {
      // lt_ref_pic_poc_lsb_sps and used_by_curr_pic_lt_sps_flag
      H264PARSE_TRY(skipBits(r, log2MaxPocLsbMinus4 + 4 + 1));
    }
  }
  H264PARSE_TRY(skipBits(r, 2));  // sps_temporal_mvp_enabled_flag, strong_intra_smoothing_enabled_flag
  H264PARSE_TRY(readFlag(r, flag));  // vui_parameters_present_flag
  if (flag) H264PARSE_TRY(readVui(r, maxSubLayersMinus1));

  H264PARSE_TRY(readFlag(r, flag));  // sps_extension_present_flag
  bool opaqueExtensions = false;
  if (flag) {
    bool rangeExtension = false, multilayerExtension = false;
    H264PARSE_TRY(readFlag(r, rangeExtension));
    H264PARSE_TRY(readFlag(r, multilayerExtension));
    uint32_t others = 0;  // 3D, screen content and four reserved bits
    H264PARSE_TRY(readBits(r, 6, others));
    if (rangeExtension) H264PARSE_TRY(skipBits(r, 9));
    if (multilayerExtension) H264PARSE_TRY(skipBits(r, 1));
    // The remaining extensions say nothing about the picture size; they
    // are only checked to end properly.
    opaqueExtensions = others != 0;
  }
  H264PARSE_TRY(opaqueExtensions ? skipToTrailingBits(r) : finishAtTrailingBits(r));

  const bool subsampledWidth = !separateColourPlane && (chromaFormatIdc == 1 || chromaFormatIdc == 2);
  const bool subsampledHeight = !separateColourPlane && chromaFormatIdc == 1;
  const int64_t unitX = subsampledWidth ? 2 : 1;
  const int64_t unitY = subsampledHeight ? 2 : 1;
  const int64_t cropX = unitX * (int64_t{window[0]} + window[1]);
  const int64_t cropY = unitY * (int64_t{window[2]} + window[3]);
  if (cropX >= width || cropY >= height) return kH264ParseInvalid;
  s.codedWidth = static_cast<uint16_t>(width);
  s.codedHeight = static_cast<uint16_t>(height);
  s.width = static_cast<int32_t>(width - cropX);
  s.height = static_cast<int32_t>(height - cropY);
  return kH264ParseOk;
}

}  // namespace
}  // namespace h264parse

extern "C" int h265_parse_sequence_parameter_set(const uint8_t* data, int length,
                                                 H265SpsInfo* sps) {
  if (data == nullptr || sps == nullptr || length < 0) return kH264ParseBadArgument;
  h264parse::BitReader reader(data, static_cast<size_t>(length) * 8);
  // Parsed into a local copy so that a failure leaves the caller's
  // structure as it was.
  H265SpsInfo parsed{};
  const int result = h264parse::parseSps(reader, parsed);
  if (result == kH264ParseOk) *sps = parsed;
  return result;
}
