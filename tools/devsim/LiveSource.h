#pragma once
// A live stream: the channel's picture loop at 25 frames a second, stamped
// with the device's clock, each picture followed by a frame of sound. A
// key-frame request jumps to the loop's next key frame, sent as a forced
// one. While the client falls behind, frames are dropped and sending
// resumes at a key frame. Pause and start are the only controls.
#include <memory>
#include <span>

#include "tools/devsim/DeviceState.h"
#include "tools/devsim/MediaSource.h"

namespace devsim {

class LiveSource : public MediaSource {
 public:
  // Frames are dropped while this much is waiting for a slow client.
  static constexpr size_t kBacklog = 2 * 1024 * 1024;

  // Checks a live open request. DLSDK_OK and the source in *source, or the
  // code to answer.
  static int open(DeviceState& device, std::span<const uint8_t> body, std::unique_ptr<MediaSource>* source);

  LiveSource(DeviceState& device, int channel, int streamType)
      : device_(device), channel_(channel), streamType_(streamType) {}

  const char* name() const override { return "live"; }
  int channel() const override { return channel_; }
  int streamType() const override { return streamType_; }
  void start(std::shared_ptr<const EncodedLoop> loop) override;
  void produce(Clock::time_point now, StreamOutput& out) override;
  int pollTimeout(size_t queued) const override;
  int control(const devlink::wire::ControlRequest& request) override;

 private:
  DeviceState& device_;
  const int channel_;
  const int streamType_;
  std::shared_ptr<const EncodedLoop> loop_;
  int index_ = 0;  // the loop picture sent next
  bool paused_ = false;
  bool waitForKey_ = false;     // frames were dropped: resume at a key frame
  bool forcedPending_ = false;  // the next key frame answers a request
  uint32_t forceSeen_ = 0;      // the channel's key-frame counter last seen
  Clock::time_point due_;       // when the next picture is due
};

}  // namespace devsim
