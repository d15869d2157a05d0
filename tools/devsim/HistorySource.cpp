#include "tools/devsim/HistorySource.h"

#include "platform/devlink/DevLinkSdk.h"

namespace devsim {

namespace wire = devlink::wire;

int HistorySource::open(DeviceState& device, std::span<const uint8_t> body, std::unique_ptr<MediaSource>* source) {
  wire::HistoryOpenRequest r;
  if (!wire::decode(body, r)) return DLSDK_ERR_INVALID_PARAMETER;
  if (const int rc = device.sessions().check(r.token, true); rc != DLSDK_OK) return rc;
  const DevSimOptions& options = device.options();
  const int64_t from = *wire::calendarSeconds(r.begin);
  const int64_t to = *wire::calendarSeconds(r.end) + 1;  // the end second is included
  if (r.channel >= options.channels || from >= to || to - from > kMaxRangeSeconds || r.typeMask == 0) {
    return DLSDK_ERR_INVALID_PARAMETER;
  }
  const int streamType = r.subStream ? DLSDK_STREAM_SUB : DLSDK_STREAM_MAIN;
  *source = std::make_unique<HistorySource>(r.channel, streamType,
                                            options.schedule.query(r.channel, from, to, r.typeMask), from, to);
  return DLSDK_OK;
}

void HistorySource::start(std::shared_ptr<const EncodedLoop> loop) {
  loop_ = std::move(loop);
  due_ = Clock::now();
}

void HistorySource::add(const HistoryPlayer::Item& item, StreamOutput& out) const {
  const uint32_t seconds = static_cast<uint32_t>(item.frame / HistoryPlayer::kFrameRate);
  const int inSecond = static_cast<int>(item.frame % HistoryPlayer::kFrameRate);
  if (item.end) {
    out.addEndOfData(seconds);
    return;
  }
  const int index = static_cast<int>(item.frame % loop_->size());
  const uint8_t kind = EncodedLoop::isKey(index) ? wire::kRecordedKeyFrame : wire::kDeltaFrame;
  const uint16_t ms = static_cast<uint16_t>(inSecond * 1000 / HistoryPlayer::kFrameRate);
  out.addVideo(index, kind, seconds, ms, item.preroll ? wire::kPreroll : 0);
  if (!item.preroll && player_.rate() == 0) out.addAudio(seconds, ms, inSecond);
}

void HistorySource::produce(Clock::time_point now, StreamOutput& out) {
  // Step frames go out at once, also while paused.
  while (player_.hasPending()) add(*player_.next(), out);
  if (!player_.playing()) return;
  if (player_.paced()) {
    if (now >= due_) {
      if (auto item = player_.next()) add(*item, out);
      due_ += std::chrono::microseconds(player_.intervalMicros());
      if (now - due_ > std::chrono::seconds(1)) due_ = now;
    }
    return;
  }
  while (out.size() < kAhead) {
    auto item = player_.next();
    if (!item) break;
    add(*item, out);
  }
}

int HistorySource::pollTimeout(size_t queued) const {
  if (!player_.playing()) return -1;
  if (player_.paced()) return msUntil(due_);
  return queued < kAhead ? 0 : -1;
}

int HistorySource::control(const wire::ControlRequest& request) {
  switch (request.op) {
    case wire::kStart:
      if (!player_.playing()) due_ = Clock::now();
      player_.start(request.arg == 0);
      break;
    case wire::kPause:
      player_.pause();
      break;
    case wire::kPosition:
      player_.position(*wire::calendarSeconds(request.time));
      break;
    case wire::kFaster:
      player_.faster();
      break;
    case wire::kSlower:
      player_.slower();
      break;
    case wire::kNormalRate:
      player_.normalRate();
      break;
    case wire::kStepForward:
      player_.stepForward();
      break;
    case wire::kStepBack:
      player_.stepBack();
      break;
    default:
      return DLSDK_ERR_NOT_SUPPORTED;
  }
  return DLSDK_OK;
}

}  // namespace devsim
