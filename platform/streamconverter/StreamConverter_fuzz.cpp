// Frame sequences into one converter stream. The input is a list of
// records: u8 control, u16 length (little-endian), then that many bytes (or
// what is left). With bit 7 of control set the bytes are a whole frame as
// it came off the wire; otherwise they are a payload and a well-formed
// header is put in front, so that the search spends its time past the
// header checks:
//   bits 0-2  kind: 1, 2, 8, 16, 17, 2, 2, 8
//   bit 3     H.265 instead of H.264 (video), A-law instead of mu-law (sound)
//   bits 4-6  time step from the previous record: 0-5 times 20 ms,
//             6 twenty minutes forward, 7 five seconds back
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/WireFormat.h"
#include "platform/streamconverter/StreamConverter.h"

namespace {

namespace wire = devlink::wire;

int discard(int32_t, int32_t, int64_t, const uint8_t*, int32_t, int32_t, int64_t, int64_t, void* context) {
  // Every few calls the write fails, as a full disk would.
  auto* calls = static_cast<int*>(context);
  return ++*calls % 97 == 0 ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  Converter_Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t kKinds[] = {wire::kKeyFrame, wire::kDeltaFrame,      wire::kAudioFrame, wire::kRecordedKeyFrame,
                                   wire::kForcedKeyFrame, wire::kDeltaFrame, wire::kDeltaFrame, wire::kAudioFrame};
  int calls = 0;
  int32_t handle = -1;
  if (Converter_CreateStream(&handle, 0, &discard, &calls) != CONVERTER_OK) return 0;
  int64_t ms = int64_t{1714989600} * 1000;
  std::vector<uint8_t> frame;
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t control = data[at];
    size_t length = data[at + 1] | (size_t{data[at + 2]} << 8);
    at += 3;
    if (length > size - at) length = size - at;
    const uint8_t* bytes = data + at;
    at += length;
    if (control & 0x80) {
      Converter_Input(handle, length == 0 ? nullptr : bytes, static_cast<int32_t>(length));
      continue;
    }
    const int step = (control >> 4) & 7;
    ms += step == 6 ? 20 * 60 * 1000 : step == 7 ? -5000 : step * 20;
    if (ms < 0) ms = 0;
    wire::FrameHeader h;
    h.streamType = 1;
    h.kind = kKinds[control & 7];
    const bool other = (control & 0x08) != 0;
    if (h.kind == wire::kAudioFrame) {
      h.format = other ? wire::kG711Alaw : wire::kG711Ulaw;
    } else {
      h.format = other ? wire::kH265 : wire::kH264;
    }
    h.seconds = static_cast<uint32_t>(ms / 1000);
    h.milliseconds = static_cast<uint16_t>(ms % 1000);
    h.frameRate = 25;
    h.payloadLength = static_cast<uint32_t>(length);
    frame.resize(wire::kFrameHeaderSize + length);
    wire::encodeFrameHeader(frame.data(), h);
    std::copy(bytes, bytes + length, frame.begin() + wire::kFrameHeaderSize);
    Converter_Input(handle, frame.data(), static_cast<int32_t>(frame.size()));
  }
  Converter_Destroy(handle);
  return 0;
}
