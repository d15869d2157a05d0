#include "platform/streamconverter/ParameterSets.h"

#include "platform/devlink/WireFormat.h"
#include "platform/h264parse/H264Parse.h"

namespace streamconverter {
namespace {

constexpr uint8_t kStartCode[] = {0, 0, 0, 1};

enum class UnitRole { kOther, kVps, kSps, kPps, kSlice };

UnitRole roleOf(bool h265, std::span<const uint8_t> unit) {
  if (!h265) {
    switch (unit[0] & 0x1F) {
      case 1: case 2: case 3: case 4: case 5: return UnitRole::kSlice;
      case 7: return UnitRole::kSps;
      case 8: return UnitRole::kPps;
      default: return UnitRole::kOther;
    }
  }
  if (unit.size() < 2) return UnitRole::kOther;
  const int type = (unit[0] >> 1) & 0x3F;
  const int layer = ((unit[0] & 1) << 5) | (unit[1] >> 3);
  if (type < 32) return UnitRole::kSlice;
  if (layer != 0) return UnitRole::kOther;  // parameter sets of enhancement layers are not ours
  switch (type) {
    case 32: return UnitRole::kVps;
    case 33: return UnitRole::kSps;
    case 34: return UnitRole::kPps;
    default: return UnitRole::kOther;
  }
}

// Whether a sequence parameter set parses to its end. The muxer reads every
// set it is given with a reader of its own that trusts the counts inside, so
// only sets that our bounded parser reads whole reach it.
bool spsParses(bool h265, std::span<const uint8_t> unit) {
  if (unit.size() > static_cast<size_t>(kH264ParseMaxSpsBytes)) return false;
  const int length = static_cast<int>(unit.size());
  if (h265) {
    H265SpsInfo info{};
    return h265_parse_sequence_parameter_set(unit.data(), length, &info) == kH264ParseOk;
  }
  H264SpsInfo info{};
  return h264_parse_sequence_parameter_set(unit.data(), length * 8, &info) == kH264ParseOk;
}

}  // namespace

std::optional<ParameterSets> ParameterSets::find(uint8_t format, std::span<const uint8_t> au) {
  if (format != devlink::wire::kH264 && format != devlink::wire::kH265) return std::nullopt;
  if (au.empty() || au.size() > devlink::wire::kMaxFrameBody) return std::nullopt;
  const bool h265 = format == devlink::wire::kH265;

  // The picture size comes from the first sequence parameter set that
  // parses; its codec must be the one the frame header names.
  int offset = 0, length = 0, codec = 0;
  if (get_sps_info_from_frame(au.data(), static_cast<int>(au.size()), &offset, &length, &codec) != kH264ParseOk) {
    return std::nullopt;
  }
  if (codec != (h265 ? kH264ParseCodecH265 : kH264ParseCodecH264)) return std::nullopt;
  const uint8_t* sps = au.data() + offset + 4;
  ParameterSets sets;
  if (h265) {
    H265SpsInfo info{};
    if (h265_parse_sequence_parameter_set(sps, length, &info) != kH264ParseOk) return std::nullopt;
    sets.width_ = info.width;
    sets.height_ = info.height;
  } else {
    H264SpsInfo info{};
    if (h264_parse_sequence_parameter_set(sps, length * 8, &info) != kH264ParseOk) return std::nullopt;
    sets.width_ = info.width;
    sets.height_ = info.height;
  }
  if (sets.width_ <= 0 || sets.height_ <= 0) return std::nullopt;

  bool haveVps = false, haveSps = false, havePps = false, tooMany = false, badSps = false;
  size_t units = 0;
  forEachUnit(au, [&](std::span<const uint8_t> unit) {
    const UnitRole role = roleOf(h265, unit);
    if (role == UnitRole::kSlice) return false;
    if (role == UnitRole::kOther) return true;
    if (units == kMaxUnits || sets.extradata_.size() + sizeof kStartCode + unit.size() > kMaxBytes) {
      tooMany = true;
      return false;
    }
    if (role == UnitRole::kSps && !spsParses(h265, unit)) {
      badSps = true;
      return false;
    }
    ++units;
    haveVps |= role == UnitRole::kVps;
    haveSps |= role == UnitRole::kSps;
    havePps |= role == UnitRole::kPps;
    sets.extradata_.insert(sets.extradata_.end(), std::begin(kStartCode), std::end(kStartCode));
    sets.extradata_.insert(sets.extradata_.end(), unit.begin(), unit.end());
    return true;
  });
  if (tooMany || badSps || !haveSps || !havePps || (h265 && !haveVps)) return std::nullopt;
  return sets;
}

}  // namespace streamconverter
