#include "platform/streamconverter/ConverterStream.h"

#include <algorithm>

#include "platform/devlink/WireFormat.h"
#include "platform/streamconverter/ParameterSets.h"

namespace streamconverter {
namespace {

namespace wire = devlink::wire;

// A gap in the sound of more than this (in samples) is filled with silence,
// so that later sound stays at its own time.
constexpr int64_t kAudioResyncSamples = AacTranscoder::kSampleRate / 10;
constexpr int64_t kSamplesPerMs = AacTranscoder::kSampleRate / 1000;

// The calls of streams now running on this thread, innermost first: an
// output callback that calls back into its own stream is refused instead
// of deadlocking on the stream's mutex.
struct ActiveCall {
  const ConverterStream* stream;
  const ActiveCall* outer;
};
thread_local const ActiveCall* tlsActiveCalls = nullptr;

class ActiveScope {
 public:
  explicit ActiveScope(const ConverterStream* stream) : call_{stream, tlsActiveCalls} { tlsActiveCalls = &call_; }
  ~ActiveScope() { tlsActiveCalls = call_.outer; }
  ActiveScope(const ActiveScope&) = delete;
  ActiveScope& operator=(const ActiveScope&) = delete;

 private:
  ActiveCall call_;
};

}  // namespace

ConverterStream::ConverterStream(int32_t handle, Converter_OutputCallback output, void* context)
    : handle_(handle), output_(output), context_(context) {}

ConverterStream::~ConverterStream() = default;

bool ConverterStream::activeOnThisThread() const {
  for (const ActiveCall* c = tlsActiveCalls; c != nullptr; c = c->outer) {
    if (c->stream == this) return true;
  }
  return false;
}

Converter_Stats ConverterStream::stats() const {
  Converter_Stats s{};
  s.videoFrames = videoFrames_.load();
  s.audioFrames = audioFrames_.load();
  s.droppedFrames = droppedFrames_.load();
  s.bytesOut = bytesOut_.load();
  s.hasAudioTrack = hasAudioTrack_.load();
  s.videoCodec = videoCodec_.load();
  return s;
}

bool ConverterStream::deliver(void* opaque, int kind, int64_t position, const uint8_t* data, int length) {
  auto* self = static_cast<ConverterStream*>(opaque);
  const bool ok = self->output_(self->handle_, kind, position, data, length, 0, 0, 0, self->context_) == 0;
  if (ok) self->bytesOut_.store(position + length);
  return ok;
}

int ConverterStream::fail(int code) {
  state_ = State::kFailed;
  failure_ = code;
  return code;
}

int ConverterStream::drop(int code) {
  droppedFrames_.fetch_add(1);
  return code;
}

int ConverterStream::input(std::span<const uint8_t> frame) {
  if (activeOnThisThread()) return CONVERTER_ERR_INVALID_PARAMETER;
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return CONVERTER_ERR_INVALID_PARAMETER;  // another call of this stream is running
  ActiveScope scope(this);
  if (state_ == State::kFailed) return failure_;
  if (state_ == State::kFinished) return CONVERTER_ERR_INVALID_HANDLE;

  wire::FrameHeader header;
  if (!wire::parseFrame(frame, header)) return drop(CONVERTER_ERR_BAD_FRAME);
  if (wire::isEndOfData(header)) return CONVERTER_OK;
  const std::span<const uint8_t> payload = frame.subspan(wire::kFrameHeaderSize);
  const int64_t sourceMs = static_cast<int64_t>(header.seconds) * 1000 + header.milliseconds;
  if (header.kind == wire::kAudioFrame) return audio(header, payload, sourceMs);
  return video(header, payload, sourceMs);
}

int ConverterStream::video(const wire::FrameHeader& header, std::span<const uint8_t> payload, int64_t sourceMs) {
  const bool key = wire::isKeyFrameKind(header.kind);
  if (!key && header.kind != wire::kDeltaFrame) return drop(CONVERTER_ERR_BAD_FRAME);

  if (state_ == State::kWaitingForKeyFrame) {
    if (!key) return drop(CONVERTER_OK);
    auto sets = ParameterSets::find(header.format, payload);
    if (!sets) return drop(CONVERTER_ERR_BAD_FRAME);
    videoFormat_ = header.format;
    videoTrack_.h265 = header.format == wire::kH265;
    videoTrack_.width = sets->width();
    videoTrack_.height = sets->height();
    videoTrack_.extradata = sets->extradata();
    videoCodec_.store(header.format);
    if (header.frameRate > 0) {
      clock_.setInterval((1000 + header.frameRate / 2) / header.frameRate);
      frameRateKnown_ = true;
    }
    heldKeyFrame_.assign(payload.begin(), payload.end());
    heldKeyMs_ = clock_.map(sourceMs);
    lastVideoSourceMs_ = sourceMs;
    state_ = State::kHolding;
    return CONVERTER_OK;
  }
  if (header.format != videoFormat_) return drop(CONVERTER_ERR_BAD_FRAME);
  if (state_ == State::kHolding) {
    const int rc = startFile(audioStarted_);
    if (rc != CONVERTER_OK) return rc;
  }

  // The interval that a gap collapses to: the announced frame rate, or
  // else the step between the last two frames.
  if (header.frameRate > 0) {
    clock_.setInterval((1000 + header.frameRate / 2) / header.frameRate);
    frameRateKnown_ = true;
  } else if (!frameRateKnown_) {
    const int64_t step = sourceMs - lastVideoSourceMs_;
    if (step >= 1 && step <= FrameClock::kMaxJumpMs) clock_.setInterval(step);
  }
  lastVideoSourceMs_ = sourceMs;
  int64_t ms = clock_.map(sourceMs);
  if (ms <= lastVideoMs_) ms = lastVideoMs_ + 1;  // times going back: dts must still grow
  lastVideoMs_ = ms;
  const int rc = muxer_->writeVideo(payload, ms, clock_.interval(), key);
  if (rc != CONVERTER_OK) return fail(rc);
  videoFrames_.fetch_add(1);
  return CONVERTER_OK;
}

int ConverterStream::audio(const wire::FrameHeader& header, std::span<const uint8_t> payload, int64_t sourceMs) {
  if (state_ == State::kWaitingForKeyFrame) return drop(CONVERTER_OK);
  if (payload.size() > kMaxAudioBytes) return drop(CONVERTER_ERR_BAD_FRAME);
  const int64_t ms = clock_.map(sourceMs);
  if (state_ == State::kHolding && !aacTried_) {
    // The encoder opens with the first sound; a file without sound never
    // needs it.
    aac_ = AacTranscoder::open();
    aacTried_ = true;
  }
  if (state_ == State::kHolding && ms - heldKeyMs_ > kHoldMs) {
    // No second video frame within a second: the file starts with what
    // came so far; this sound came while the key frame was still held.
    const int rc = startFile(aac_ != nullptr);
    if (rc != CONVERTER_OK) return rc;
  }
  if (aac_ == nullptr || (state_ == State::kWriting && !muxer_->hasAudio())) return drop(CONVERTER_OK);
  if (ms < 0) return drop(CONVERTER_OK);  // sound from before the first picture

  const int64_t at = ms * kSamplesPerMs;
  if (!audioStarted_) {
    audioStarted_ = true;
    audioOriginSamples_ = at;
  } else {
    const int64_t missing = at - (audioOriginSamples_ + aac_->samples());
    if (missing > kAudioResyncSamples &&
        !aac_->pad(std::min(missing, AacTranscoder::kMaxSamplesAtOnce), aacPackets_)) {
      return fail(CONVERTER_ERR_MUXER);
    }
  }
  if (!aac_->push(payload, header.format == wire::kG711Alaw, aacPackets_)) return fail(CONVERTER_ERR_MUXER);
  return state_ == State::kWriting ? writeAudioPackets() : CONVERTER_OK;
}

int ConverterStream::startFile(bool withAudio) {
  const bool audio = withAudio && aac_ != nullptr;
  if (!audio) {
    aac_.reset();
    aacPackets_.clear();
  }
  muxer_ = std::make_unique<Mp4Muxer>(&ConverterStream::deliver, this);
  int rc = muxer_->open(videoTrack_, audio ? aac_->context() : nullptr);
  if (rc != CONVERTER_OK) return fail(rc);
  hasAudioTrack_.store(audio ? 1 : 0);
  state_ = State::kWriting;
  rc = muxer_->writeVideo(heldKeyFrame_, heldKeyMs_, clock_.interval(), true);
  lastVideoMs_ = heldKeyMs_;
  std::vector<uint8_t>().swap(heldKeyFrame_);
  if (rc != CONVERTER_OK) return fail(rc);
  videoFrames_.fetch_add(1);
  return writeAudioPackets();
}

int ConverterStream::writeAudioPackets() {
  if (aacPackets_.empty() || aac_ == nullptr) return CONVERTER_OK;
  const int64_t duration = aac_->frameSize();
  for (const AacPacket& p : aacPackets_) {
    const int rc = muxer_->writeAudio(p.data, audioOriginSamples_ + p.pts, duration);
    if (rc != CONVERTER_OK) {
      aacPackets_.clear();
      return fail(rc);
    }
    audioFrames_.fetch_add(1);
  }
  aacPackets_.clear();
  return CONVERTER_OK;
}

int ConverterStream::finish() {
  if (activeOnThisThread()) return CONVERTER_ERR_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  ActiveScope scope(this);
  int rc = CONVERTER_OK;
  switch (state_) {
    case State::kFinished:
      return CONVERTER_ERR_INVALID_HANDLE;
    case State::kFailed:
      rc = failure_;
      break;
    case State::kWaitingForKeyFrame:
      break;  // no picture came: no file
    case State::kHolding:
      rc = startFile(audioStarted_);
      if (rc != CONVERTER_OK) break;
      [[fallthrough]];
    case State::kWriting:
      if (aac_ != nullptr && muxer_->hasAudio()) {
        rc = aac_->flush(aacPackets_) ? writeAudioPackets() : fail(CONVERTER_ERR_MUXER);
      }
      if (rc == CONVERTER_OK) rc = muxer_->finish();
      break;
  }
  muxer_.reset();
  aac_.reset();
  aacPackets_.clear();
  std::vector<uint8_t>().swap(heldKeyFrame_);
  state_ = State::kFinished;
  return rc;
}

}  // namespace streamconverter
