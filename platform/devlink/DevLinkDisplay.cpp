// The display functions of the SDK: a stream opened for display gets a
// StreamRenderer, which these functions steer. History streams are also
// steered on the device, which paces them; live streams keep flowing while
// paused, so that resuming shows the present at once.
#include <cstring>
#include <new>
#include <string>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/devlink/MediaStream.h"
#include "platform/devlink/SdkContext.h"
#include "platform/devlink/StreamRenderer.h"
#include "platform/ui/WindowApi.h"

namespace {

using namespace devlink;

// Longer paths are refused rather than handed to the file system.
constexpr size_t kMaxPathBytes = 4096;

SdkContext& sdk() { return SdkContext::instance(); }

template <class F>
int guarded(F&& body) {
  try {
    if (!sdk().started()) return DLSDK_ERR_NOT_INITIALISED;
    return body();
  } catch (const std::bad_alloc&) {
    return DLSDK_ERR_NO_MEMORY;
  } catch (...) {
    return DLSDK_ERR_FAILED;
  }
}

struct Display {
  std::shared_ptr<MediaStream> stream;
  std::shared_ptr<StreamRenderer> renderer;
  bool history() const { return stream->kind() == MediaStream::Kind::kHistory; }
};

// The stream and its renderer: 4 for an unknown handle, 31 for a stream
// that was not opened for display.
int display(int32_t handle, Display& out) {
  out.stream = sdk().find<MediaStream>(handle);
  if (!out.stream) return DLSDK_ERR_INVALID_HANDLE;
  out.renderer = DisplayTable::instance().find(handle);
  return out.renderer ? DLSDK_OK : DLSDK_ERR_NOT_AVAILABLE;
}

template <class F>
int withDisplay(int32_t handle, F&& body) {
  return guarded([&]() -> int {
    Display d;
    if (const int rc = display(handle, d); rc != DLSDK_OK) return rc;
    return body(d);
  });
}

}  // namespace

extern "C" {

int DLSDK_StreamOpenEx(int32_t streamHandle, int32_t mode, int32_t streamMode, int32_t bufferSize,
                       int32_t decodeMode, int32_t reserved1, int32_t reserved2, int32_t width, int32_t height) {
  return guarded([&]() -> int {
    if (width < 0 || height < 0 || bufferSize < 0) return DLSDK_ERR_INVALID_PARAMETER;
    auto stream = sdk().find<MediaStream>(streamHandle);
    if (!stream) return DLSDK_ERR_INVALID_HANDLE;
    DisplayTable& table = DisplayTable::instance();
    if (table.find(streamHandle)) return DLSDK_OK;
    auto renderer = std::make_shared<StreamRenderer>(streamHandle, stream->kind() == MediaStream::Kind::kHistory,
                                                     table.makeSink());
    if (table.insert(streamHandle, renderer) != renderer) return DLSDK_OK;  // another thread was first
    // The handle may have been closed meanwhile; then nobody would remove
    // the renderer again.
    if (sdk().find<MediaStream>(streamHandle) != stream) {
      table.remove(streamHandle);
      return DLSDK_ERR_INVALID_HANDLE;
    }
    renderer->start();
    stream->attachSink(renderer);
    return DLSDK_OK;
  });
}

int DLSDK_StreamPlay(int32_t streamHandle, DLSDK_Window window) {
  return withDisplay(streamHandle, [&](Display& d) -> int {
    if (window != 0 && !ui::isWindow(window)) return DLSDK_ERR_INVALID_PARAMETER;
    if (const int rc = d.renderer->play(window); rc != DLSDK_OK) return rc;
    if (!d.history()) return DLSDK_OK;
    // Playing a recording means playing it at its own pace: back to the
    // normal rate, then paced sending.
    d.renderer->normalRate();
    if (const int rc = d.stream->control(wire::kNormalRate, 0); rc != DLSDK_OK) return rc;
    return d.stream->control(wire::kStart, 0);
  });
}

int DLSDK_StreamPause(int32_t streamHandle, int32_t pause) {
  return withDisplay(streamHandle, [&](Display& d) -> int {
    if (pause != 0 && pause != 1) return DLSDK_ERR_INVALID_PARAMETER;
    d.renderer->pause(pause == 1);
    if (!d.history()) return DLSDK_OK;
    return pause == 1 ? d.stream->control(wire::kPause, 0) : d.stream->control(wire::kStart, 0);
  });
}

int DLSDK_StreamStop(int32_t streamHandle) {
  return withDisplay(streamHandle, [&](Display& d) -> int {
    d.renderer->stop();
    // The stream itself stays open; a recording need not be sent meanwhile.
    // A device that is gone does not make stopping fail.
    if (d.history()) d.stream->control(wire::kPause, 0);
    return DLSDK_OK;
  });
}

int DLSDK_StreamRefreshPlay(int32_t streamHandle) {
  return withDisplay(streamHandle, [&](Display& d) -> int {
    d.renderer->refresh();
    return DLSDK_OK;
  });
}

int DLSDK_StreamSetFrameSize(int32_t streamHandle, int32_t frames) {
  return withDisplay(streamHandle, [&](Display& d) -> int { return d.renderer->setQueueFrames(frames); });
}

int DLSDK_StreamSetVolume(int32_t streamHandle, int32_t volume) {
  return withDisplay(streamHandle, [&](Display& d) -> int { return d.renderer->setVolume(volume); });
}

int DLSDK_StreamPlaySound(int32_t streamHandle) {
  return withDisplay(streamHandle, [&](Display& d) -> int { return d.renderer->playSound(); });
}

int DLSDK_StreamStopSound(int32_t streamHandle) {
  return withDisplay(streamHandle, [&](Display& d) -> int { return d.renderer->stopSound(); });
}

int DLSDK_StreamSnapShot(int32_t streamHandle, const char* path) {
  return withDisplay(streamHandle, [&](Display& d) -> int {
    if (!path) return DLSDK_ERR_INVALID_PARAMETER;
    const size_t length = strnlen(path, kMaxPathBytes + 1);
    if (length == 0 || length > kMaxPathBytes) return DLSDK_ERR_INVALID_PARAMETER;
    return d.renderer->snapshot(std::string(path, length));
  });
}

int DLSDK_StreamResetDraw(int32_t streamHandle, int32_t mode, DLSDK_DrawCallback callback, void* context) {
  return withDisplay(streamHandle, [&](Display& d) -> int {
    if (mode != 2) return DLSDK_ERR_INVALID_PARAMETER;
    d.renderer->setDrawHook(callback, context);
    return DLSDK_OK;
  });
}

int DLSDK_SoftSetDisplayRegion(int32_t streamHandle, int32_t region, const DLSDK_Rect* rect, int32_t reserved,
                               int32_t enable) {
  return withDisplay(streamHandle, [&](Display& d) -> int {
    if (enable != 0 && enable != 1) return DLSDK_ERR_INVALID_PARAMETER;
    return d.renderer->setRegion(rect, enable == 1);
  });
}

}  // extern "C"
