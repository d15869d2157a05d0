#include "tools/devsim/StreamOutput.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace devsim {

namespace wire = devlink::wire;

StreamOutput::StreamOutput(DeviceState& device, const EncodedLoop& loop, int channel, int streamType)
    : device_(device), loop_(loop), audioFormat_(device.options().audioFormat) {
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
}

bool StreamOutput::flush(int fd) {
  while (size() > 0) {
    const ssize_t n = ::send(fd, buffer_.data() + offset_, size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      offset_ += static_cast<size_t>(n);
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
    offset_ = 0;
  }
  return true;
}

}  // namespace devsim
