#include "plugin/video/live/LiveStream.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/h264parse/H264Parse.h"
#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"
#include "plugin/api/SdkResult.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/LoginKeeper.h"
#include "plugin/video/RecordingSink.h"
#include "plugin/video/VideoMessages.h"
#include "plugin/video/live/ConnectPool.h"

namespace ksplugs {

namespace {

// Attempt numbers are unique in the process, so an answer can never be taken
// for another stream's or an older attempt.
std::atomic<uint64_t> gNextAttempt{1};

int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

LiveStream::LiveStream(WebPlug_NCL::CDVSDevice* device, int channel, std::shared_ptr<RecordingSink> recording)
    : device_(device), channel_(channel), recording_(std::move(recording)) {}

LiveStream::~LiveStream() { close(); }

int LiveStream::open(int streamType, ui::HWND window) {
  if (isOpen()) return KS_OK;
  if (device_ == nullptr) return MapSdkResult(DLSDK_ERR_INVALID_PARAMETER);
  cancelAttempt();
  // The same steps as a pool job, in place: a device without a login (not
  // logged in yet, or its login was lost) logs in first.
  WebPlug_NCL::LoginKeeper& keeper = *device_->loginKeeper();
  int32_t handle = -1;
  const int rc = connectOnPool(keeper, keeper.attempts(), static_cast<uint16_t>(device_->mediaPort()), channel_,
                               streamType, handle);
  if (rc != KS_OK) return rc;
  return MapSdkResult(attach(handle, window));
}

uint64_t LiveStream::connectAsync(int streamType, std::function<void(uint64_t)> ready) {
  if (device_ == nullptr) return 0;
  const uint64_t attempt = gNextAttempt.fetch_add(1);
  int32_t left = -1;
  {
    std::lock_guard lock(attempt_->mutex);
    left = attempt_->connection;
    attempt_->wanted = attempt;
    attempt_->answered = false;
    attempt_->connection = -1;
    attempt_->result = 0;
  }
  if (left != -1) DLSDK_RealStreamDisconnect(left);
  // The job holds the login and the attempt record, never this object or the
  // device: either may be gone by the time the device answers.
  std::shared_ptr<WebPlug_NCL::LoginKeeper> keeper = device_->loginKeeper();
  const uint64_t seenLogins = keeper->attempts();
  const auto mediaPort = static_cast<uint16_t>(device_->mediaPort());
  ConnectPool::shared().submit([shared = attempt_, keeper = std::move(keeper), ready = std::move(ready), attempt,
                                seenLogins, mediaPort, channel = channel_, streamType] {
    {
      std::lock_guard lock(shared->mutex);
      if (shared->wanted != attempt) return;  // cancelled before it started
    }
    int32_t handle = -1;
    const int result = connectOnPool(*keeper, seenLogins, mediaPort, channel, streamType, handle);
    bool wanted = false;
    {
      std::lock_guard lock(shared->mutex);
      wanted = shared->wanted == attempt;
      if (wanted) {
        shared->answered = true;
        shared->connection = handle;
        shared->result = result;
      }
    }
    if (!wanted) {
      // Cancelled while the device was asked: nobody takes the connection.
      if (handle != -1) DLSDK_RealStreamDisconnect(handle);
      return;
    }
    if (ready) ready(attempt);
  });
  return attempt;
}

int LiveStream::connectOnPool(WebPlug_NCL::LoginKeeper& keeper, uint64_t seenLogins, uint16_t mediaPort, int channel,
                              int streamType, int32_t& handle) {
  int32_t login = keeper.handle();
  if (login == -1) {
    if (const int rc = keeper.loginSince(seenLogins); rc != KS_OK) return rc;
    login = keeper.handle();
  }
  DLSDK_LiveStreamRequest request{};
  request.channel = channel;
  request.reserved1 = 1;
  request.streamType = streamType;
  request.mediaPort = mediaPort;
  int rc = DLSDK_RealStreamConnect(&handle, login, &request);
  if (rc == DLSDK_ERR_SESSION || rc == DLSDK_ERR_INVALID_HANDLE) {
    // The device no longer knows the login (it restarted) or the login was
    // dropped meanwhile: log in afresh once and try again.
    if (const int renewed = keeper.renew(login); renewed != KS_OK) return renewed;
    rc = DLSDK_RealStreamConnect(&handle, keeper.handle(), &request);
  }
  if (rc != DLSDK_OK) handle = -1;
  return MapSdkResult(rc);
}

int LiveStream::finishConnect(uint64_t attempt, ui::HWND window) {
  int32_t handle = -1;
  int result = 0;
  {
    std::lock_guard lock(attempt_->mutex);
    if (attempt == 0 || attempt_->wanted != attempt || !attempt_->answered) return kStale;
    handle = attempt_->connection;
    result = attempt_->result;
    attempt_->wanted = 0;
    attempt_->answered = false;
    attempt_->connection = -1;
  }
  if (result != KS_OK) return result;
  if (isOpen()) {
    // Opened in place meanwhile; the extra connection is not needed.
    DLSDK_RealStreamDisconnect(handle);
    return KS_OK;
  }
  return MapSdkResult(attach(handle, window));
}

bool LiveStream::connecting() const {
  std::lock_guard lock(attempt_->mutex);
  return attempt_->wanted != 0;
}

void LiveStream::cancelAttempt() {
  int32_t left = -1;
  {
    std::lock_guard lock(attempt_->mutex);
    attempt_->wanted = 0;
    attempt_->answered = false;
    left = attempt_->connection;
    attempt_->connection = -1;
  }
  if (left != -1) DLSDK_RealStreamDisconnect(left);
}

int LiveStream::attach(int32_t handle, ui::HWND window) {
  int rc = DLSDK_StreamOpenEx(handle, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576);
  if (rc == 0) {
    DLSDK_StreamSetFrameSize(handle, 5);
    rc = DLSDK_StreamPlay(handle, window);
  }
  if (rc != 0) {
    DLSDK_RealStreamDisconnect(handle);
    return rc;
  }
  window_ = window;
  broken_.store(false, std::memory_order_release);
  lastFrameMs_.store(steadyMs(), std::memory_order_release);
  handle_.store(handle, std::memory_order_release);
  DLSDK_StreamMediaCB(handle, &LiveStream::mediaCallback, this);
  // A stream that ended before its end callback was in place is broken too.
  if (DLSDK_StreamEndCB(handle, &LiveStream::endCallback, this) != DLSDK_OK)
    endCallback(handle, DLSDK_ERR_CONNECT, this);
  DLSDK_StreamSetVolume(handle, 0xFFFF);
  return 0;
}

int LiveStream::close() {
  cancelAttempt();
  const int32_t handle = handle_.load(std::memory_order_acquire);
  if (handle == -1) return 0;
  // The callbacks go first: once these return, no SDK thread touches this
  // object any more.
  DLSDK_StreamMediaCB(handle, nullptr, nullptr);
  DLSDK_StreamEndCB(handle, nullptr, nullptr);
  DLSDK_StreamResetDraw(handle, 2, nullptr, nullptr);
  DLSDK_StreamStop(handle);
  DLSDK_RealStreamDisconnect(handle);
  handle_.store(-1, std::memory_order_release);
  broken_.store(false, std::memory_order_release);
  window_ = 0;
  return 0;
}

int64_t LiveStream::silentMs() const { return steadyMs() - lastFrameMs_.load(std::memory_order_acquire); }

void LiveStream::endCallback(int32_t streamHandle, int32_t, void* context) {
  auto* self = static_cast<LiveStream*>(context);
  if (self == nullptr || streamHandle != self->handle()) return;
  self->broken_.store(true, std::memory_order_release);
  if (self->brokenNotice_) self->brokenNotice_();
}

int LiveStream::setSound(bool on) {
  const int32_t handle = handle_.load(std::memory_order_acquire);
  const int rc = on ? DLSDK_StreamPlaySound(handle) : DLSDK_StreamStopSound(handle);
  return rc == DLSDK_ERR_ALREADY ? 0 : rc;
}

int LiveStream::setDrawHook(DLSDK_DrawCallback hook, void* context) {
  return DLSDK_StreamResetDraw(handle_.load(std::memory_order_acquire), 2, hook, context);
}

int LiveStream::snapshot(const std::string& path) {
  return DLSDK_StreamSnapShot(handle_.load(std::memory_order_acquire), path.c_str());
}

void LiveStream::setDisplayRegion(const ZoomRegion* region) {
  const int32_t handle = handle_.load(std::memory_order_acquire);
  if (region == nullptr) {
    DLSDK_Rect any{};
    DLSDK_SoftSetDisplayRegion(handle, 0, &any, 0, 0);
    return;
  }
  const int w = pictureWidth();
  const int h = pictureHeight();
  if (w == 0 || h == 0) return;
  const double fw = w / 10000.0;
  const double fh = h / 10000.0;
  DLSDK_Rect rect{static_cast<int32_t>(fw * region->left), static_cast<int32_t>(fh * region->top),
                  static_cast<int32_t>(fw * region->right), static_cast<int32_t>(fh * region->bottom)};
  DLSDK_SoftSetDisplayRegion(handle, 0, &rect, 0, 1);
}

void LiveStream::forceKeyFrame() {
  if (device_ != nullptr) DLSDK_ForceIFrame(device_->loginHandle(), channel_);
}

std::string LiveStream::macText() const { return device_ != nullptr ? device_->macText() : std::string(); }

void LiveStream::postFileReady(const std::string& path, int kind) {
  const ui::HWND cell = ui::getParent(window_);
  if (cell == 0) return;
  const std::u16string wide = sys::utf8ToUtf16(path);
  auto* copy = static_cast<char16_t*>(std::calloc(wide.size() + 1, sizeof(char16_t)));
  if (copy == nullptr) return;
  std::memcpy(copy, wide.data(), wide.size() * sizeof(char16_t));
  if (!ui::postMessage(cell, MsgFileReady, static_cast<ui::WPARAM>(kind), reinterpret_cast<ui::LPARAM>(copy)))
    std::free(copy);
}

bool LiveStream::parsePictureSize(const uint8_t* data, int length, int& width, int& height) {
  int offset = 0, spsLength = 0, codec = 0;
  if (data == nullptr || length <= 0) return false;
  if (get_sps_info_from_frame(data, length, &offset, &spsLength, &codec) < 0) return false;
  // The parser reports the unit at offset + 4; check it lies inside the frame
  // before handing out a pointer there.
  const int64_t start = static_cast<int64_t>(offset) + 4;
  if (start < 0 || spsLength <= 0 || start + spsLength > length) return false;
  const uint8_t* nal = data + start;
  if (codec == kH264ParseCodecH264) {
    H264SpsInfo sps{};
    if (h264_parse_sequence_parameter_set(nal, spsLength * 8, &sps) < 0) return false;
    width = sps.width;
    height = sps.height;
    return true;
  }
  if (codec == kH264ParseCodecH265) {
    H265SpsInfo sps{};
    if (h265_parse_sequence_parameter_set(nal, spsLength, &sps) < 0) return false;
    width = sps.width;
    height = sps.height;
    return true;
  }
  return false;
}

void LiveStream::notePictureSize(int width, int height) {
  if (width == width_.load(std::memory_order_acquire) && height == height_.load(std::memory_order_acquire)) return;
  width_.store(width, std::memory_order_release);
  height_.store(height, std::memory_order_release);
  sizeChanges_.fetch_add(1, std::memory_order_acq_rel);
  if (window_ != 0) ui::postMessage(window_, MsgVideoSizeChanged, 0, 0);
}

int LiveStream::mediaCallback(int32_t streamHandle, const DLSDK_MediaFrame* frame, void* context) {
  auto* self = static_cast<LiveStream*>(context);
  if (self == nullptr || frame == nullptr) return 1;
  self->lastFrameMs_.store(steadyMs(), std::memory_order_release);
  const int type = frame->frameType;
  if (type == DLSDK_FRAME_KEY || type == DLSDK_FRAME_RECORDED_KEY || type == DLSDK_FRAME_FORCED_KEY) {
    int width = 0, height = 0;
    if (parsePictureSize(frame->data, frame->length, width, height)) self->notePictureSize(width, height);
  }
  if (self->recording_)
    self->recording_->onSizedFrame(streamHandle, *frame, self->pictureWidth(), self->pictureHeight());
  return 1;
}

}  // namespace ksplugs
