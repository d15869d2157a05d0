#pragma once
// The live picture of one channel of one device: opened through the device
// SDK and drawn by it into a video surface window. While open it learns the
// picture size from the parameter sets of key frames (and tells the surface
// when it changes) and hands every frame to its recording sink.
//
// A stream is opened either in place (open(), which waits for the device)
// or in two steps that keep the waiting off the cell's thread:
// connectAsync() hands the connection to the ConnectPool, whose job logs in
// when needed and connects, then calls the cell's `ready`; the cell then
// takes the connection on its own thread with finishConnect(). A close in
// between cancels the attempt: the job finds its attempt number no longer
// wanted and disconnects what it made, or close() takes the connection the
// job left. The device's end callback marks a stream whose connection broke
// and calls the cell's broken notice.
//
// Threads: open, close and the other operations run on the cell's UI thread
// (or the command thread); the media and end callbacks run on the SDK's
// thread of the stream; connect jobs on the pool's threads. The handle, open
// state, broken mark and picture size are atomics because the callbacks and
// the recording queue read them without a lock. The target window and the
// broken notice are written only while no callback is registered. What a
// connect job shares with the stream is the Attempt record, guarded by its
// own mutex.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/Types.h"
#include "plugin/video/live/CellGeometry.h"

namespace WebPlug_NCL {
class CDVSDevice;
class LoginKeeper;
}  // namespace WebPlug_NCL

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
  // and draws it into `window`, logging in first when the device has no
  // login, and waits for the device. 0 when already open; otherwise 0 or the
  // library's code of the step that failed (a connected stream is
  // disconnected first).
  int open(int streamType, ui::HWND window);
  // Starts connecting the channel's stream of `streamType` on the pool,
  // logging in first when the device has no login, and answers the attempt's
  // number; 0 (and nothing started) without a device. `ready(attempt)` runs
  // on a pool thread once the attempt has an answer for finishConnect(); it
  // does not run for an attempt cancelled by close() or a newer attempt.
  uint64_t connectAsync(int streamType, std::function<void(uint64_t)> ready);
  // Answers kStale when `attempt` is not the one wanted (cancelled, or
  // superseded). Otherwise takes the attempt's connection and draws it into
  // `window`: 0, or the library's code of the step that failed.
  static constexpr int kStale = -1;
  int finishConnect(uint64_t attempt, ui::HWND window);
  // Whether an attempt is under way.
  bool connecting() const;
  // Closes the stream and cancels an attempt under way. Always 0.
  int close();
  bool isOpen() const { return handle_.load(std::memory_order_acquire) != -1; }
  // The open stream's connection broke (it stays open until closed).
  bool broken() const { return broken_.load(std::memory_order_acquire); }
  // Marks the open stream broken without telling the notice: for a
  // connection that stays up but has carried no frame for too long.
  void markBroken() { broken_.store(true, std::memory_order_release); }
  // Milliseconds since the open stream's last frame (or since it opened).
  int64_t silentMs() const;
  // Runs on the SDK's thread when the connection of the open stream breaks.
  // Set while the stream is closed.
  void setBrokenNotice(std::function<void()> notice) { brokenNotice_ = std::move(notice); }
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
  // The end callback: the connection broke (or the device sent garbage).
  static void endCallback(int32_t streamHandle, int32_t reason, void* context);
  // Reads the picture size from a key frame's bytes; false when no
  // parameter set can be found or parsed.
  static bool parsePictureSize(const uint8_t* data, int length, int& width, int& height);
  // Stores a newly seen picture size and tells the target window once.
  void notePictureSize(int width, int height);
  // How many picture-size changes were announced.
  int sizeChangeCount() const { return sizeChanges_.load(std::memory_order_acquire); }

 private:
  // What a connect job and the stream share.
  struct Attempt {
    std::mutex mutex;
    uint64_t wanted = 0;      // guarded by mutex: the attempt whose answer is wanted, 0 none
    bool answered = false;    // guarded by mutex: the wanted attempt has its answer below
    int32_t connection = -1;  // guarded by mutex: its stream handle, -1 none
    int result = 0;           // guarded by mutex: its library code
  };
  // The answer of a connect job: the library's code and the stream handle.
  static int connectOnPool(WebPlug_NCL::LoginKeeper& keeper, uint64_t seenLogins, uint16_t mediaPort, int channel,
                           int streamType, int32_t& handle);
  // Draws the connected `handle` into `window` and registers the callbacks;
  // the SDK's code (the handle is disconnected on failure).
  int attach(int32_t handle, ui::HWND window);
  // Cancels an attempt under way and disconnects a connection it left.
  void cancelAttempt();

  const std::shared_ptr<Attempt> attempt_ = std::make_shared<Attempt>();  // never replaced
  std::atomic<bool> broken_{false};
  std::atomic<int64_t> lastFrameMs_{0};  // steady clock; written by attach() and the media callback
  std::function<void()> brokenNotice_;  // written while closed; read by the end callback
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
