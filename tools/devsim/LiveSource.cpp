#include "tools/devsim/LiveSource.h"

#include <ctime>

#include "platform/devlink/DevLinkSdk.h"

namespace devsim {

namespace wire = devlink::wire;

namespace {

// The device's local time as calendar seconds, and the milliseconds.
int64_t nowCalendarSeconds(uint16_t& milliseconds) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  localtime_r(&ts.tv_sec, &local);
  milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return static_cast<int64_t>(timegm(&local));
}

}  // namespace

int LiveSource::open(DeviceState& device, std::span<const uint8_t> body, std::unique_ptr<MediaSource>* source) {
  wire::LiveOpenRequest r;
  if (!wire::decode(body, r)) return DLSDK_ERR_INVALID_PARAMETER;
  if (const int rc = device.sessions().check(r.token, false); rc != DLSDK_OK) return rc;
  if (r.channel >= device.options().channels || !LoopCache::sizeOf(r.streamType)) {
    return DLSDK_ERR_INVALID_PARAMETER;
  }
  *source = std::make_unique<LiveSource>(device, r.channel, r.streamType);
  return DLSDK_OK;
}

void LiveSource::start(std::shared_ptr<const EncodedLoop> loop) {
  loop_ = std::move(loop);
  forceSeen_ = device_.keyFrameCounter(channel_);
  due_ = Clock::now();
}

void LiveSource::produce(Clock::time_point now, StreamOutput& out) {
  if (const uint32_t f = device_.keyFrameCounter(channel_); f != forceSeen_) {
    forceSeen_ = f;
    // Jump to the next key frame of the loop so the very next frame is one.
    if (!EncodedLoop::isKey(index_)) {
      index_ = (index_ + EncodedLoop::kGop - index_ % EncodedLoop::kGop) % loop_->size();
    }
    forcedPending_ = true;
  }
  if (paused_ || now < due_) return;
  uint16_t ms = 0;
  const uint32_t seconds = static_cast<uint32_t>(nowCalendarSeconds(ms));
  const bool key = EncodedLoop::isKey(index_);
  if (out.size() > kBacklog) {
    // The client does not keep up: drop, and resume at a key frame.
    waitForKey_ = true;
  } else if (!waitForKey_ || key) {
    waitForKey_ = false;
    const uint8_t kind = key ? (forcedPending_ ? wire::kForcedKeyFrame : wire::kKeyFrame) : wire::kDeltaFrame;
    if (key) forcedPending_ = false;
    out.addVideo(index_, kind, seconds, ms, 0);
    out.addAudio(seconds, ms, index_);
  }
  index_ = (index_ + 1) % loop_->size();
  due_ += std::chrono::microseconds(1000000 / EncodedLoop::kFrameRate);
  if (now - due_ > std::chrono::seconds(1)) due_ = now;
}

int LiveSource::pollTimeout(size_t) const { return paused_ ? -1 : msUntil(due_); }

int LiveSource::control(const wire::ControlRequest& request) {
  if (request.op == wire::kStart) {
    paused_ = false;
  } else if (request.op == wire::kPause) {
    paused_ = true;
  } else {
    return DLSDK_ERR_NOT_AVAILABLE;
  }
  return DLSDK_OK;
}

}  // namespace devsim
