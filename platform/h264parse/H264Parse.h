#pragma once
// Finds the sequence parameter set in an H.264 or H.265 key frame and reads
// the picture size from it.
//
// The live stream learns the size of the picture from every key frame:
//
//   int offset = 0, length = 0, codec = 0;
//   if (get_sps_info_from_frame(frame, frameLength, &offset, &length, &codec) < 0) return;
//   const uint8_t* nal = frame + offset + 4;
//   if (codec == kH264ParseCodecH264) {
//     H264SpsInfo sps{};
//     if (h264_parse_sequence_parameter_set(nal, length * 8, &sps) < 0) return;
//   } else if (codec == kH264ParseCodecH265) {
//     H265SpsInfo sps{};
//     if (h265_parse_sequence_parameter_set(nal, length, &sps) < 0) return;
//   }
//
// All input is treated as hostile: every function checks its arguments,
// reads only inside the bytes it was given, answers a negative result for
// truncated or corrupt data and leaves the output untouched then. Nothing
// is allocated and no state is kept, so every function may be called from
// any thread at any time.
#include <cstdint>

// Results. Every failure is negative.
constexpr int kH264ParseOk = 0;
constexpr int kH264ParseBadArgument = -1;  // a null pointer or a negative length
constexpr int kH264ParseNotFound = -2;     // the frame holds no sequence parameter set
constexpr int kH264ParseTruncated = -3;    // the data ends before the parameter set does
constexpr int kH264ParseInvalid = -4;      // a field outside its allowed range, a wrong NAL type
constexpr int kH264ParseUnsupported = -5;  // valid, but a kind this parser does not read

// The codec that get_sps_info_from_frame reports.
constexpr int kH264ParseCodecH264 = 2;
constexpr int kH264ParseCodecH265 = 3;

// The longest parameter set get_sps_info_from_frame reports, so that the
// length in bits (length * 8) always fits an int.
constexpr int kH264ParseMaxSpsBytes = 65536;

extern "C" {

// A parsed H.264 sequence parameter set (636 bytes). Sizes are in luma
// samples; crop offsets are in samples, already scaled by the crop unit.
struct H264SpsInfo {
  int32_t width;   // displayed width: coded width minus left and right crop
  int32_t height;  // displayed height: coded height minus top and bottom crop
  int32_t profileIdc;
  int32_t constraintFlags;  // constraint_set0_flag in bit 7 .. reserved bits in bits 1-0
  int32_t levelIdc;
  int32_t spsId;
  int32_t chromaFormatIdc;  // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
  int32_t separateColourPlane;
  int32_t bitDepthLuma;
  int32_t bitDepthChroma;
  int32_t log2MaxFrameNum;
  int32_t picOrderCntType;
  int32_t log2MaxPicOrderCntLsb;  // 0 unless picOrderCntType is 0
  int32_t maxNumRefFrames;
  int32_t picWidthInMbs;
  int32_t picHeightInMapUnits;
  int32_t frameMbsOnly;  // 0: the picture may be coded as two fields
  int32_t mbAdaptiveFrameField;
  int32_t direct8x8Inference;
  int32_t cropLeft;
  int32_t cropRight;
  int32_t cropTop;
  int32_t cropBottom;
  int32_t codedWidth;   // picWidthInMbs * 16
  int32_t codedHeight;  // map units * 16, doubled for field coding
  int32_t vuiPresent;
  int32_t sarWidth;   // sample aspect ratio; 0:0 when not given
  int32_t sarHeight;
  uint32_t numUnitsInTick;  // timing; 0 when not given
  uint32_t timeScale;
  int32_t fixedFrameRate;
  int32_t scalingMatrixPresent;
  // Per list (six 4x4, then up to six 8x8): 0 not sent, 1 sent in
  // scalingList4x4/8x8 (zig-zag order), 2 "use the default list".
  uint8_t scalingListState[12];
  uint8_t scalingList4x4[6][16];
  uint8_t scalingList8x8[6][64];
  uint8_t reserved[16];
};

// A parsed H.265 sequence parameter set (20 bytes).
struct H265SpsInfo {
  int32_t width;   // displayed width: luma samples minus the conformance window
  int32_t height;  // displayed height
  uint16_t codedWidth;   // pic_width_in_luma_samples
  uint16_t codedHeight;  // pic_height_in_luma_samples
  uint8_t profileIdc;
  uint8_t levelIdc;  // 30 times the level number
  uint8_t chromaFormatIdc;
  uint8_t bitDepthLuma;
  uint8_t bitDepthChroma;
  uint8_t maxSubLayers;
  uint8_t tierFlag;
  uint8_t spsId;
};

// Scans an Annex B frame (start codes 00 00 01 or 00 00 00 01; anything
// before the first start code is skipped) for the first sequence parameter
// set of the base layer that parses, and reports where it is:
// `*offset + 4` is the index of its first byte (the NAL unit header) and
// `*spsLength` its length in bytes up to the next start code, trailing zero
// bytes excluded. With a four-byte start code `*offset` is the start code's
// own index; with a three-byte start code at the very start of the frame
// it is -1. `*codec` is kH264ParseCodecH264 or kH264ParseCodecH265.
// Answers kH264ParseOk, or a negative result with the outputs untouched:
// kH264ParseNotFound when no unit looks like a parameter set, else the
// result of parsing the last one that did.
int get_sps_info_from_frame(const uint8_t* frame, int length, int* offset, int* spsLength,
                            int* codec);

// Parses one H.264 sequence parameter set NAL unit (its one-byte header
// first, emulation-prevention bytes still in place) of `bitLength` bits.
int h264_parse_sequence_parameter_set(const uint8_t* data, int bitLength, H264SpsInfo* sps);

// Parses one H.265 sequence parameter set NAL unit (its two-byte header
// first, emulation-prevention bytes still in place) of `length` bytes.
int h265_parse_sequence_parameter_set(const uint8_t* data, int length, H265SpsInfo* sps);

}  // extern "C"

static_assert(sizeof(H264SpsInfo) == 636, "callers reserve 636 bytes for the H.264 result");
static_assert(sizeof(H265SpsInfo) == 20, "callers reserve 20 bytes for the H.265 result");
