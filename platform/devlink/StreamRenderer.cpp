#include "platform/devlink/StreamRenderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <span>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "platform/devlink/SnapshotWriter.h"
#include "platform/devlink/WireFormat.h"
#include "platform/sys/G711.h"
#include "platform/ui/DeviceContext.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowDC.h"

namespace devlink {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

int64_t threadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A picture later than this (history playback) starts a new time line
// instead of being rushed; one further ahead than this is a jump.
constexpr int64_t kLateLimitMs = 500;
constexpr int64_t kAheadLimitMs = 2000;
// Region corners beyond this are not picture pixels of any stream.
constexpr int32_t kMaxRegionCoordinate = 65535;
constexpr int kG711SampleRate = 8000;
// The longest a live window goes without a picture while its stream is
// behind.
constexpr int64_t kLateDrawIntervalNs = 200'000'000;

bool isKeyKind(int kind) {
  return kind == DLSDK_FRAME_KEY || kind == DLSDK_FRAME_RECORDED_KEY || kind == DLSDK_FRAME_FORCED_KEY;
}

// Whether no other frame refers to this access unit, from the header of its
// first slice: nal_ref_idc 0 in H.264, a sub-layer non-reference NAL type in
// H.265. Anything unreadable counts as referenced.
bool isDisposable(const uint8_t* p, size_t size, int format) {
  for (size_t i = 0; i + 3 < size; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    const uint8_t h = p[i + 3];
    if (format == DLSDK_FORMAT_H264) {
      const int type = h & 0x1F;
      if (type == 1 || type == 5) return ((h >> 5) & 0x03) == 0;
    } else {
      const int type = (h >> 1) & 0x3F;
      if (type < 32) return type <= 14 && type % 2 == 0;
    }
    i += 2;
  }
  return false;
}

}  // namespace

StreamRenderer::StreamRenderer(int32_t handle, bool history, std::shared_ptr<AudioSink> sink)
    : handle_(handle), history_(history), sink_(std::move(sink)), pooled_(!history) {
  // A frame step must show its frame at once; a decoder with frame
  // threads would hold it back until the next frame, which a paused
  // recording never sends.
  decoder_.setSingleThreaded(history);
}

StreamRenderer::~StreamRenderer() {
  shutdown();
  std::lock_guard lock(pictureMutex_);
  av_frame_free(&lastPicture_);
  av_frame_free(&heldPicture_);
}

void StreamRenderer::keep(AVFrame*& target, const AVFrame* picture) {
  if (!target) target = av_frame_alloc();
  if (!target) return;
  av_frame_unref(target);
  if (av_frame_ref(target, picture) < 0) av_frame_unref(target);
}

void StreamRenderer::start() {
  std::lock_guard lock(mutex_);
  if (started_ || quit_) return;
  started_ = true;
  if (pooled_) {
    wakeLocked();
    return;
  }
  // The thread keeps the renderer alive, so shutdown() may detach it.
  thread_ = std::thread([self = shared_from_this()] { self->run(); });
  drawThreadId_ = thread_.get_id();
}

void StreamRenderer::shutdown() {
  bool self = false;
  {
    std::unique_lock lock(mutex_);
    quit_ = true;
    queue_.clear();
    queuedBytes_ = 0;
    self = std::this_thread::get_id() == drawThreadId_;
    cv_.notify_all();
    // A pool worker in a slice of this stream finishes its picture first
    // (unless this is that worker, from the draw hook).
    if (pooled_ && !self) cv_.wait(lock, [this] { return !running_; });
  }
  {
    std::lock_guard audio(audioMutex_);
    audioBlocked_ = true;
    if (soundOn_ && sink_) sink_->stop();
    soundOn_ = false;
  }
  if (!thread_.joinable()) return;
  if (self) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void StreamRenderer::bumpEpochLocked() {
  ++epoch_;
  cv_.notify_all();
}

void StreamRenderer::wakeLocked() {
  cv_.notify_all();
  if (!pooled_ || !started_ || scheduled_ || running_ || quit_ || !hasWorkLocked()) return;
  scheduled_ = true;
  DrawPool::instance().post(shared_from_this());
}

// ---- receive thread ------------------------------------------------------

void StreamRenderer::onFrame(const DLSDK_MediaFrame& frame) {
  if (!frame.data || frame.length < static_cast<int32_t>(wire::kFrameHeaderSize)) return;
  const uint8_t* payload = frame.data + wire::kFrameHeaderSize;
  const size_t size = static_cast<size_t>(frame.length) - wire::kFrameHeaderSize;
  if (frame.frameType == DLSDK_FRAME_AUDIO) {
    onAudio(frame, payload, size);
    return;
  }
  // The end-of-data marker carries no picture.
  if (size == 0 || size > wire::kMaxFrameBody) return;
  if (frame.formatCode != DLSDK_FORMAT_H264 && frame.formatCode != DLSDK_FORMAT_H265) return;

  Item item;
  item.bytes.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
  std::memcpy(item.bytes.data(), payload, size);
  std::memset(item.bytes.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  item.size = size;
  item.format = frame.formatCode;
  item.key = isKeyKind(frame.frameType);
  item.disposable = !item.key && isDisposable(payload, size, frame.formatCode);
  item.width = frame.width;
  item.height = frame.height;
  item.tag.timeMs = static_cast<int64_t>(frame.timeStamp) * 1000 + std::min<int>(frame.milliseconds, 999);
  item.tag.arrivedNs = nowNs();
  item.tag.preroll = (frame.flags & 0x01) != 0;

  std::lock_guard lock(mutex_);
  if (quit_ || stopped_) return;
  if (needKeyAtQueue_ && !item.key) {
    ++stats_.framesDropped;
    return;
  }
  needKeyAtQueue_ = false;
  queuedBytes_ += item.size;
  queue_.push_back(std::move(item));
  ++stats_.framesQueued;
  while (!queue_.empty() && (queue_.size() > kMaxQueuedFrames || queuedBytes_ > kMaxQueuedBytes)) {
    dropOldestLocked();
  }
  wakeLocked();
}

void StreamRenderer::dropOldestLocked() {
  // A frame nothing refers to can go alone.
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (it->disposable) {
      queuedBytes_ -= it->size;
      queue_.erase(it);
      ++stats_.framesDropped;
      return;
    }
  }
  // Otherwise the oldest frames go up to the next key frame: without the
  // first of them the others cannot be decoded.
  auto next = std::find_if(queue_.begin() + 1, queue_.end(), [](const Item& i) { return i.key; });
  if (next == queue_.end()) needKeyAtQueue_ = true;
  for (auto it = queue_.begin(); it != next; ++it) {
    queuedBytes_ -= it->size;
    ++stats_.framesDropped;
  }
  queue_.erase(queue_.begin(), next);
  // The drawing thread may be part-way into the frames just dropped; it
  // must start again at a key frame.
  resetDecoder_ = true;
}

void StreamRenderer::onAudio(const DLSDK_MediaFrame& frame, const uint8_t* payload, size_t size) {
  g711::Law law;
  if (frame.formatCode == DLSDK_FORMAT_G711U) {
    law = g711::Law::kMuLaw;
  } else if (frame.formatCode == DLSDK_FORMAT_G711A) {
    law = g711::Law::kALaw;
  } else {
    return;
  }
  if (size == 0 || size > wire::kMaxFrameBody) return;
  std::lock_guard audio(audioMutex_);
  if (!soundOn_ || audioBlocked_ || !sink_) return;
  pcm_.resize(size);
  g711::decodeScaled(law, std::span<const uint8_t>(payload, size), volume_, pcm_.data());
  sink_->write(pcm_.data(), size);
  audioFrames_.fetch_add(1);
}

void StreamRenderer::onStreamEnd() {
  std::lock_guard lock(mutex_);
  stats_.ended = true;
}

// ---- drawing thread ------------------------------------------------------

void StreamRenderer::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return quit_ || hasWorkLocked(); });
    if (quit_) break;
    stepLocked(lock);
    stats_.cpuNs = threadCpuNs();
  }
}

void StreamRenderer::runSlice() {
  // Frames of one slice: enough to make a slice worth its switch, few
  // enough that 36 streams on two workers each come round within a frame
  // time.
  constexpr int kSliceSteps = 4;
  std::unique_lock lock(mutex_);
  scheduled_ = false;
  if (quit_) return;
  running_ = true;
  drawThreadId_ = std::this_thread::get_id();
  const int64_t cpuStart = threadCpuNs();
  for (int i = 0; i < kSliceSteps && !quit_ && hasWorkLocked(); ++i) stepLocked(lock);
  stats_.cpuNs += threadCpuNs() - cpuStart;
  drawThreadId_ = {};
  running_ = false;
  // shutdown() may wait for this slice; more work goes back to the pool.
  cv_.notify_all();
  wakeLocked();
}

void StreamRenderer::stepLocked(std::unique_lock<std::mutex>& lock) {
  if (resetDecoder_) {
    resetDecoder_ = false;
    lock.unlock();
    decoder_.reset();
    lock.lock();
    return;
  }
  if (redrawRequested_) {
    redrawRequested_ = false;
    lock.unlock();
    redraw();
    lock.lock();
    return;
  }
  if (queue_.empty()) return;
  Item item = std::move(queue_.front());
  queue_.pop_front();
  queuedBytes_ -= item.size;
  // A live picture with enough newer frames behind it is decoded (later
  // frames refer to it) but not drawn, so the window catches up.
  const bool late = !history_ && queue_.size() >= queueFrames_;
  lock.unlock();
  process(item, late);
  lock.lock();
  stats_.decodeErrors = decoder_.errors();
  stats_.decoderThreads = decoder_.threads();
}

void StreamRenderer::process(Item& item, bool late) {
  const auto result =
      decoder_.decode(item.bytes.data(), item.size, item.format, item.key, item.width, item.height, item.tag,
                      [&](AVFrame* picture, const VideoDecoder::Tag& tag) { onPicture(picture, tag, late); });
  if (result == VideoDecoder::Result::kWaitingForKey || result == VideoDecoder::Result::kUnsupported) {
    std::lock_guard lock(mutex_);
    ++stats_.framesDropped;
  }
}

void StreamRenderer::onPicture(AVFrame* picture, const VideoDecoder::Tag& tag, bool late) {
  {
    std::lock_guard pictureLock(pictureMutex_);
    keep(lastPicture_, picture);
  }
  uint32_t window = 0;
  bool paused = false;
  {
    std::lock_guard lock(mutex_);
    ++stats_.framesDecoded;
    stats_.width = picture->width;
    stats_.height = picture->height;
    if (tag.preroll || !playing_ || stopped_ || quit_) return;
    if (paused_ && !stepArmed_) return;
    window = window_;
    paused = paused_;
  }
  if (window == 0) return;
  if (history_ && !paused && !pace(tag)) {
    std::lock_guard lock(mutex_);
    if (paused_ || stopped_ || quit_) return;
  }
  {
    // What a refresh draws: the picture the window shows, or would show.
    std::lock_guard pictureLock(pictureMutex_);
    keep(heldPicture_, picture);
  }
  // A late picture is skipped so the window catches up, unless the window
  // has shown nothing for a while: a stream that stays behind (more streams
  // than the cores can decode) still moves a few times a second.
  if (late && !paused && nowNs() - lastDrawNs_ < kLateDrawIntervalNs) {
    std::lock_guard lock(mutex_);
    ++stats_.framesSkipped;
    return;
  }
  // A hidden window, or one wholly under another (a cell under the settings
  // cell), keeps its decoder fed but costs no scaling or drawing.
  if (!ui::isWindowExposed(window)) return;
  if (draw(picture, tag)) lastDrawNs_ = nowNs();
}

bool StreamRenderer::pace(const VideoDecoder::Tag& tag) {
  std::unique_lock lock(mutex_);
  const int64_t now = nowNs();
  const double speed = std::ldexp(1.0, rate_);
  const auto anchor = [&] {
    anchored_ = true;
    anchorEpoch_ = epoch_;
    anchorWallNs_ = now;
    anchorTimeMs_ = tag.timeMs;
    return true;
  };
  if (!anchored_ || anchorEpoch_ != epoch_) return anchor();
  const double offsetMs = static_cast<double>(tag.timeMs - anchorTimeMs_) / speed;
  const int64_t due = anchorWallNs_ + static_cast<int64_t>(offsetMs * 1e6);
  // Out of line with the time line (a gap in the recordings, a jump, a
  // stall): this picture starts a new one.
  if (offsetMs < 0 || due < now - kLateLimitMs * 1000000 || due > now + kAheadLimitMs * 1000000) return anchor();
  const uint64_t epoch = epoch_;
  const auto deadline = Clock::now() + std::chrono::nanoseconds(due - now);
  cv_.wait_until(lock, deadline, [&] { return quit_ || epoch_ != epoch; });
  return !quit_ && epoch_ == epoch;
}

void StreamRenderer::redraw() {
  AVFrame* held = nullptr;
  {
    std::lock_guard pictureLock(pictureMutex_);
    if (heldPicture_ && heldPicture_->width > 0) held = av_frame_clone(heldPicture_);
  }
  if (!held) return;
  uint32_t window = 0;
  {
    std::lock_guard lock(mutex_);
    window = stopped_ ? 0 : window_;
  }
  if (window != 0 && ui::isWindowExposed(window) && draw(held, VideoDecoder::Tag{})) {
    std::lock_guard lock(mutex_);
    ++stats_.redraws;
  }
  av_frame_free(&held);
}

bool StreamRenderer::draw(const AVFrame* picture, const VideoDecoder::Tag& tag) {
  uint32_t window = 0;
  Region region;
  {
    std::lock_guard lock(mutex_);
    window = window_;
    region = region_;
  }
  ui::WindowDC target(window);
  if (!target.valid()) return false;
  const ui::PixelAccess pixels = target.dc().pixels();
  const PictureScaler::Crop crop = region.enabled ? region.crop : PictureScaler::Crop{};
  if (!pixels.data || !scaler_.scale(picture, crop, pixels.data, pixels.width, pixels.height, pixels.stride)) {
    target.discard();
    return false;
  }
  target.dc().markDirty();
  drawingTimeMs_ = tag.timeMs;
  drawingArrivalNs_ = tag.arrivedNs;
  callHook(target.dc());
  {
    std::lock_guard lock(mutex_);
    ++stats_.framesDrawn;
  }
  // Leaving the scope presents the picture, the hook's drawing included.
  return true;
}

void StreamRenderer::callHook(ui::DeviceContext& dc) {
  DLSDK_DrawCallback hook = nullptr;
  void* context = nullptr;
  {
    std::lock_guard lock(mutex_);
    hook = hook_;
    context = hookContext_;
    inHook_ = hook != nullptr;
  }
  if (!hook) return;
  const int depth = dc.save();
  try {
    hook(handle_, &dc, context);
  } catch (...) {
    // Nothing may leave a callback; the drawing thread carries on.
  }
  dc.restore(depth);
  std::lock_guard lock(mutex_);
  inHook_ = false;
  ++stats_.hookCalls;
  cv_.notify_all();
}

// ---- control, any thread -------------------------------------------------

int StreamRenderer::play(uint32_t window) {
  {
    std::lock_guard lock(mutex_);
    if (quit_) return DLSDK_ERR_INVALID_HANDLE;
    window_ = window;
    playing_ = true;
    if (stopped_) {
      stopped_ = false;
      needKeyAtQueue_ = true;
      resetDecoder_ = true;
    }
    paused_ = false;
    stepArmed_ = false;
    bumpEpochLocked();
    wakeLocked();
  }
  std::lock_guard audio(audioMutex_);
  audioBlocked_ = false;
  return DLSDK_OK;
}

void StreamRenderer::pause(bool pause) {
  {
    std::lock_guard lock(mutex_);
    paused_ = pause;
    stepArmed_ = false;
    bumpEpochLocked();
  }
  std::lock_guard audio(audioMutex_);
  audioBlocked_ = pause;
}

void StreamRenderer::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    paused_ = false;
    stepArmed_ = false;
    queue_.clear();
    queuedBytes_ = 0;
    resetDecoder_ = true;
    bumpEpochLocked();
    wakeLocked();
  }
  std::lock_guard audio(audioMutex_);
  audioBlocked_ = true;
}

void StreamRenderer::refresh() {
  std::lock_guard lock(mutex_);
  redrawRequested_ = true;
  wakeLocked();
}

int StreamRenderer::setQueueFrames(int frames) {
  if (frames < 1 || frames > static_cast<int>(kMaxQueuedFrames)) return DLSDK_ERR_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  queueFrames_ = static_cast<size_t>(frames);
  return DLSDK_OK;
}

int StreamRenderer::setVolume(int volume) {
  if (volume < 0 || volume > 0xFFFF) return DLSDK_ERR_INVALID_PARAMETER;
  std::lock_guard audio(audioMutex_);
  volume_ = volume;
  return DLSDK_OK;
}

int StreamRenderer::playSound() {
  std::lock_guard audio(audioMutex_);
  if (soundOn_) return DLSDK_ERR_ALREADY;
  soundOn_ = true;
  if (sink_) sink_->start(kG711SampleRate);
  return DLSDK_OK;
}

int StreamRenderer::stopSound() {
  std::lock_guard audio(audioMutex_);
  if (!soundOn_) return DLSDK_ERR_ALREADY;
  soundOn_ = false;
  if (sink_) sink_->stop();
  return DLSDK_OK;
}

int StreamRenderer::snapshot(const std::string& path) {
  AVFrame* held = nullptr;
  {
    std::lock_guard pictureLock(pictureMutex_);
    if (lastPicture_ && lastPicture_->width > 0) held = av_frame_clone(lastPicture_);
  }
  if (!held) return DLSDK_ERR_NO_PICTURE;
  const int rc = SnapshotWriter::write(held, path);
  av_frame_free(&held);
  return rc;
}

void StreamRenderer::setDrawHook(DLSDK_DrawCallback callback, void* context) {
  std::unique_lock lock(mutex_);
  hook_ = callback;
  hookContext_ = callback ? context : nullptr;
  if (!callback && std::this_thread::get_id() != drawThreadId_) {
    cv_.wait(lock, [this] { return !inHook_; });
  }
}

int StreamRenderer::setRegion(const DLSDK_Rect* rect, bool enable) {
  Region region;
  if (enable) {
    if (!rect || rect->left < 0 || rect->top < 0 || rect->right <= rect->left || rect->bottom <= rect->top ||
        rect->right > kMaxRegionCoordinate || rect->bottom > kMaxRegionCoordinate) {
      return DLSDK_ERR_INVALID_PARAMETER;
    }
    region.enabled = true;
    region.crop = {rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top};
  }
  std::lock_guard lock(mutex_);
  region_ = region;
  return DLSDK_OK;
}

void StreamRenderer::changeRate(int delta) {
  std::lock_guard lock(mutex_);
  rate_ = std::clamp(rate_ + delta, kSlowestRate, kFastestRate);
  bumpEpochLocked();
}

void StreamRenderer::normalRate() {
  std::lock_guard lock(mutex_);
  rate_ = 0;
  bumpEpochLocked();
}

void StreamRenderer::armStep() {
  {
    std::lock_guard lock(mutex_);
    paused_ = true;
    stepArmed_ = true;
    bumpEpochLocked();
  }
  std::lock_guard audio(audioMutex_);
  audioBlocked_ = true;
}

void StreamRenderer::resetPacing() {
  std::lock_guard lock(mutex_);
  bumpEpochLocked();
}

StreamRenderer::Stats StreamRenderer::stats() const {
  std::lock_guard lock(mutex_);
  Stats s = stats_;
  s.queueLength = queue_.size();
  s.audioFrames = audioFrames_.load();
  return s;
}

int StreamRenderer::rate() const {
  std::lock_guard lock(mutex_);
  return rate_;
}

}  // namespace devlink
