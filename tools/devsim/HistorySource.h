#pragma once
// A history stream: the recordings of a channel within a requested range,
// in the order a HistoryPlayer decides (position, rate, pause, steps). Paced
// playback sends at the player's rate; unpaced playback sends as fast as
// the client reads, keeping a bounded amount queued. Sound goes with the
// pictures at normal rate only.
#include <memory>
#include <span>
#include <vector>

#include "tools/devsim/DeviceState.h"
#include "tools/devsim/HistoryPlayer.h"
#include "tools/devsim/MediaSource.h"

namespace devsim {

class HistorySource : public MediaSource {
 public:
  // Frames are produced ahead of the client only this far.
  static constexpr size_t kAhead = 512 * 1024;
  // The longest range a client may ask for.
  static constexpr int64_t kMaxRangeSeconds = 31 * 86400;

  // Checks a history open request. DLSDK_OK and the source in *source, or
  // the code to answer.
  static int open(DeviceState& device, std::span<const uint8_t> body, std::unique_ptr<MediaSource>* source);

  // Plays `spans` of [rangeBegin, rangeEnd) (calendar seconds).
  HistorySource(int channel, int streamType, const std::vector<RecordingSpan>& spans, int64_t rangeBegin,
                int64_t rangeEnd)
      : channel_(channel), streamType_(streamType), player_(spans, rangeBegin, rangeEnd) {}

  const char* name() const override { return "history"; }
  int channel() const override { return channel_; }
  int streamType() const override { return streamType_; }
  void start(std::shared_ptr<const EncodedLoop> loop) override;
  void produce(Clock::time_point now, StreamOutput& out) override;
  int pollTimeout(size_t queued) const override;
  int control(const devlink::wire::ControlRequest& request) override;

 private:
  void add(const HistoryPlayer::Item& item, StreamOutput& out) const;

  const int channel_;
  const int streamType_;
  HistoryPlayer player_;
  std::shared_ptr<const EncodedLoop> loop_;
  Clock::time_point due_;  // when the next paced frame is due
};

}  // namespace devsim
