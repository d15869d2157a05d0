#pragma once
// The bytes a media connection has yet to send. Frames are built straight
// into one buffer, numbered in the order they are added; the consumed front
// is dropped now and then. Belongs to its connection's thread alone.
//
// A hostile device (HostileMode) sends from here one byte at a time, cuts
// the stream in the middle of a frame, or declares a huge picture in its
// key frames.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/devlink/WireFormat.h"
#include "tools/devsim/AudioTone.h"
#include "tools/devsim/DeviceState.h"
#include "tools/devsim/EncodedLoop.h"

namespace devsim {

class StreamOutput {
 public:
  // Frames of `loop` for one channel's stream kind; audio (when the device
  // has any) from the device's tone.
  StreamOutput(DeviceState& device, const EncodedLoop& loop, int channel, int streamType);

  // Bytes queued and not yet sent.
  size_t size() const { return buffer_.size() - offset_; }

  // The loop picture at `loopIndex` as a video frame of the given kind. Key
  // frames carry the picture size.
  void addVideo(int loopIndex, uint8_t kind, uint32_t seconds, uint16_t ms, uint8_t flags);
  // The tone's frame at `index`; nothing when the device has no audio.
  void addAudio(uint32_t seconds, uint16_t ms, int index);
  // The end of a recorded range: an empty recorded key frame.
  void addEndOfData(uint32_t seconds);
  // A reply without a body.
  void addReply(uint16_t type, uint16_t result, uint32_t requestId);

  // Sends what the socket takes now. False when the connection is gone, or
  // when a device that drops streams mid-frame has sent its half frame.
  bool flush(int fd);

  // Frames added so far.
  uint32_t framesAdded() const { return sequence_; }

 private:
  void appendFrame(const devlink::wire::FrameHeader& header, std::span<const uint8_t> payload);

  DeviceState& device_;
  const EncodedLoop& loop_;
  const uint8_t audioFormat_;
  const HostileMode hostile_;
  devlink::wire::FrameHeader base_;  // the fields every frame of the stream shares
  uint32_t sequence_ = 0;
  std::vector<uint8_t> buffer_;
  size_t offset_ = 0;  // bytes of buffer_ already sent
  // Where a stream dropped mid-frame ends (an index into buffer_); 0 while no cut is set.
  size_t cutAt_ = 0;
};

}  // namespace devsim
