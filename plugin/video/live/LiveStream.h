#pragma once
// The live picture of one channel of one device: opened through the device
// SDK and drawn by it into a video surface window. While open it learns the
// picture size from the parameter sets of key frames (and tells the surface
// when it changes) and hands every frame to its recording sink.
//
// Threads: open, close and the other operations run on the cell's UI thread
// (or the command thread); the media callback runs on the SDK's media thread
// of the stream. The handle, open state and picture size are atomics because
// the media callback and the recording queue read them without a lock. The
// target window is written only while the media callback is not registered.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/Types.h"
#include "plugin/video/live/CellGeometry.h"

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class RecordingSink;

class LiveStream {
 public:
  // Every frame goes to `recording` while the stream is open (none: frames
  // are only drawn).
  LiveStream(WebPlug_NCL::CDVSDevice* device, int channel, std::shared_ptr<RecordingSink> recording = nullptr);
  ~LiveStream();
  LiveStream(const LiveStream&) = delete;
  LiveStream& operator=(const LiveStream&) = delete;

  // Connects the channel's stream of `streamType` (1 main, 4 sub, 5 third)
  // and draws it into `window`. 0 when already open; otherwise 0 or the SDK
  // code of the step that failed (a connected stream is disconnected first).
  int open(int streamType, ui::HWND window);
  // Always 0.
  int close();
  bool isOpen() const { return handle_.load(std::memory_order_acquire) != -1; }
  int32_t handle() const { return handle_.load(std::memory_order_acquire); }

  // 0 until the first key frame was parsed; kept across a close.
  int pictureWidth() const { return width_.load(std::memory_order_acquire); }
  int pictureHeight() const { return height_.load(std::memory_order_acquire); }

  // Sound on or off; "already in that state" counts as success.
  int setSound(bool on);
  int setDrawHook(DLSDK_DrawCallback hook, void* context);
  // The SDK's code of writing the last picture to `path`.
  int snapshot(const std::string& path);
  // Shows only `region` of the picture (once its size is known), or with
  // null the whole picture again.
  void setDisplayRegion(const ZoomRegion* region);
  void forceKeyFrame();

  int channel() const { return channel_; }
  void setChannel(int channel) { channel_ = channel; }
  WebPlug_NCL::CDVSDevice* device() const { return device_; }
  // Forgets the device (closing first): the device is about to go away.
  void detachDevice() {
    close();
    device_ = nullptr;
  }
  std::string macText() const;
  ui::HWND window() const { return window_; }

  // Posts MsgFileReady (kind, a malloc'd UTF-16 copy of path) to the cell
  // that owns the target window; nothing when the copy cannot be made.
  void postFileReady(const std::string& path, int kind);

  // The media callback: learns the picture size from key frames and passes
  // the frame on to the recording sink. Public for tests that feed frames.
  static int mediaCallback(int32_t streamHandle, const DLSDK_MediaFrame* frame, void* context);
  // Reads the picture size from a key frame's bytes; false when no
  // parameter set can be found or parsed.
  static bool parsePictureSize(const uint8_t* data, int length, int& width, int& height);
  // Stores a newly seen picture size and tells the target window once.
  void notePictureSize(int width, int height);
  // How many picture-size changes were announced.
  int sizeChangeCount() const { return sizeChanges_.load(std::memory_order_acquire); }

 private:
  std::atomic<int32_t> handle_{-1};
  WebPlug_NCL::CDVSDevice* device_ = nullptr;  // not owned; detached before it goes away
  ui::HWND window_ = 0;  // set while the media callback is unregistered
  std::atomic<int32_t> width_{0};
  std::atomic<int32_t> height_{0};
  int channel_ = 0;  // changed only while closed
  std::atomic<int> sizeChanges_{0};
  const std::shared_ptr<RecordingSink> recording_;  // never changed; read by the media callback
};

}  // namespace ksplugs
