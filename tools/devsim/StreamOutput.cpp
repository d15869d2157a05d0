#include "tools/devsim/StreamOutput.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace devsim {

namespace wire = devlink::wire;

namespace {

// Appends the bits of an Exp-Golomb coded number.
void putUe(std::vector<bool>& bits, uint32_t value) {
  const uint32_t v = value + 1;
  int length = 0;
  while ((v >> length) > 1) ++length;
  for (int i = 0; i < length; ++i) bits.push_back(false);
  for (int i = length; i >= 0; --i) bits.push_back((v >> i) & 1);
}

// An H.264 sequence parameter set (Baseline, level 5.1, id 0) for a picture
// of side x side pixels, in Annex B form with its start code.
std::vector<uint8_t> hugeSequenceParameterSet(int side) {
  std::vector<bool> bits;
  putUe(bits, 0);                                     // seq_parameter_set_id
  putUe(bits, 0);                                     // log2_max_frame_num_minus4
  putUe(bits, 2);                                     // pic_order_cnt_type
  putUe(bits, 1);                                     // max_num_ref_frames
  bits.push_back(false);                              // gaps_in_frame_num_value_allowed_flag
  putUe(bits, static_cast<uint32_t>(side / 16 - 1));  // pic_width_in_mbs_minus1
  putUe(bits, static_cast<uint32_t>(side / 16 - 1));  // pic_height_in_map_units_minus1
  bits.push_back(true);                               // frame_mbs_only_flag
  bits.push_back(true);                               // direct_8x8_inference_flag
  bits.push_back(false);                              // frame_cropping_flag
  bits.push_back(false);                              // vui_parameters_present_flag
  bits.push_back(true);                               // rbsp_stop_one_bit
  while (bits.size() % 8) bits.push_back(false);
  std::vector<uint8_t> out{0, 0, 0, 1, 0x67, 66, 0xC0, 51};
  for (size_t i = 0; i < bits.size(); i += 8) {
    uint8_t byte = 0;
    for (size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>((byte << 1) | bits[i + b]);
    // Emulation prevention: no 00 00 0x (x <= 3) inside the unit.
    if (byte <= 3 && out.size() >= 2 && out[out.size() - 1] == 0 && out[out.size() - 2] == 0) out.push_back(3);
    out.push_back(byte);
  }
  return out;
}

// An H.264 access unit without its sequence parameter sets.
std::vector<uint8_t> withoutSequenceParameterSets(std::span<const uint8_t> au) {
  std::vector<uint8_t> out;
  std::vector<size_t> starts;  // positions of the 00 00 01 of each unit
  for (size_t i = 0; i + 3 <= au.size(); ++i) {
    if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) starts.push_back(i);
  }
  for (size_t n = 0; n < starts.size(); ++n) {
    const size_t begin = starts[n];
    size_t end = n + 1 < starts.size() ? starts[n + 1] : au.size();
    if (n + 1 < starts.size() && end > 0 && au[end - 1] == 0) --end;  // the 4-byte form's leading zero
    const bool sps = begin + 3 < au.size() && (au[begin + 3] & 0x1F) == 7;
    if (!sps) {
      out.push_back(0);
      out.insert(out.end(), au.begin() + static_cast<std::ptrdiff_t>(begin),
                 au.begin() + static_cast<std::ptrdiff_t>(end));
    }
  }
  return out;
}

}  // namespace

StreamOutput::StreamOutput(DeviceState& device, const EncodedLoop& loop, int channel, int streamType)
    : device_(device), loop_(loop), audioFormat_(device.options().audioFormat), hostile_(device.options().hostile) {
  base_.streamType = static_cast<uint8_t>(streamType);
  base_.channel = static_cast<uint16_t>(channel);
  base_.frameRate = EncodedLoop::kFrameRate;
}

void StreamOutput::addVideo(int loopIndex, uint8_t kind, uint32_t seconds, uint16_t ms, uint8_t flags) {
  const std::vector<uint8_t>& au = loop_.frames[loopIndex];
  wire::FrameHeader h = base_;
  h.kind = kind;
  h.format = loop_.format;
  h.seconds = seconds;
  h.milliseconds = ms;
  h.flags = flags;
  if (wire::isKeyFrameKind(kind)) {
    h.width = static_cast<uint16_t>(loop_.width);
    h.height = static_cast<uint16_t>(loop_.height);
  }
  if (hostile_ == HostileMode::kHugePicture && wire::isKeyFrameKind(kind)) {
    h.width = h.height = static_cast<uint16_t>(kHugePictureSide);
    if (loop_.format == wire::kH264) {
      std::vector<uint8_t> payload = hugeSequenceParameterSet(kHugePictureSide);
      const std::vector<uint8_t> rest = withoutSequenceParameterSets(au);
      payload.insert(payload.end(), rest.begin(), rest.end());
      h.payloadLength = static_cast<uint32_t>(payload.size());
      h.sequence = sequence_++;
      appendFrame(h, payload);
      device_.countPictureSent();
      return;
    }
  }
  h.payloadLength = static_cast<uint32_t>(au.size());
  h.sequence = sequence_++;
  appendFrame(h, au);
  device_.countPictureSent();
}

void StreamOutput::addAudio(uint32_t seconds, uint16_t ms, int index) {
  if (audioFormat_ == 0) return;
  wire::FrameHeader h = base_;
  h.kind = wire::kAudioFrame;
  h.format = audioFormat_;
  h.seconds = seconds;
  h.milliseconds = ms;
  h.payloadLength = AudioTone::kBytesPerFrame;
  h.sequence = sequence_++;
  appendFrame(h, device_.tone().frame(index));
}

void StreamOutput::addEndOfData(uint32_t seconds) {
  wire::FrameHeader h = base_;
  h.kind = wire::kRecordedKeyFrame;
  h.format = loop_.format;
  h.seconds = seconds;
  h.payloadLength = 0;
  h.sequence = sequence_++;
  appendFrame(h, {});
}

void StreamOutput::addReply(uint16_t type, uint16_t result, uint32_t requestId) {
  const std::vector<uint8_t> m = wire::buildMessage(type, result, requestId, {});
  buffer_.insert(buffer_.end(), m.begin(), m.end());
}

void StreamOutput::appendFrame(const wire::FrameHeader& header, std::span<const uint8_t> payload) {
  const size_t at = buffer_.size();
  const size_t frameSize = wire::kFrameHeaderSize + payload.size();
  buffer_.resize(at + wire::kMessageHeaderSize + frameSize);
  wire::encodeHeader(&buffer_[at], wire::MessageHeader{wire::kFrame, 0, 0, static_cast<uint32_t>(frameSize)});
  wire::encodeFrameHeader(&buffer_[at + wire::kMessageHeaderSize], header);
  if (!payload.empty()) {
    std::memcpy(&buffer_[at + wire::kMessageHeaderSize + wire::kFrameHeaderSize], payload.data(), payload.size());
  }
  device_.countFrameSent();
  if (hostile_ == HostileMode::kDropMidFrame && cutAt_ == 0 &&
      sequence_ > static_cast<uint32_t>(kFramesBeforeHostile)) {
    cutAt_ = at + wire::kMessageHeaderSize + frameSize / 2;
  }
}

bool StreamOutput::flush(int fd) {
  while (size() > 0) {
    if (cutAt_ != 0 && offset_ >= cutAt_) return false;  // half a frame is out: the device goes
    size_t want = cutAt_ != 0 ? cutAt_ - offset_ : size();
    if (hostile_ == HostileMode::kTrickle) want = 1;
    const ssize_t n = ::send(fd, buffer_.data() + offset_, want, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      offset_ += static_cast<size_t>(n);
      if (hostile_ == HostileMode::kTrickle) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        break;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  } else if (offset_ > 1024 * 1024) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset_));
    if (cutAt_ != 0) cutAt_ -= offset_;
    offset_ = 0;
  }
  return true;
}

}  // namespace devsim
