#pragma once
// The display side of one stream: it takes the stream's frames (as its
// FrameSink), decodes the video on its own drawing thread, scales each
// picture into the window's backing image at the window's current size,
// calls the draw hook and presents the picture. Sound goes from the
// receive thread straight to the audio sink.
//
// Pictures are shown as they are decoded for live streams; history streams
// are paced by their time stamps at the playback rate. Pause holds the last
// picture, a refresh draws it again, a step shows the frames a step brings
// while paused, and a hidden window keeps decoding without drawing.
//
// Threads:
// - the stream's receive thread calls onFrame()/onStreamEnd(): it queues
//   video (never waiting for the drawing thread) and plays audio;
// - the drawing thread decodes, paces, draws and calls the draw hook. A
//   history stream has a thread of its own (started by start()), since it
//   waits for each picture's time; a live stream's work runs in slices on
//   the shared DrawPool, one slice at a time, and "the drawing thread" is
//   then whichever worker runs the current slice;
// - any thread calls the control operations; they change state under
//   mutex_ and wake the drawing thread, never waiting for a picture.
// Lock order: the window's image lock (held by the drawing thread while it
// draws and calls the hook) before mutex_; audioMutex_ and pictureMutex_
// are never held together with another lock.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/devlink/AudioSink.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DrawPool.h"
#include "platform/devlink/FrameSink.h"
#include "platform/devlink/PictureScaler.h"
#include "platform/devlink/VideoDecoder.h"

struct AVFrame;

namespace ui {
class DeviceContext;
}

namespace devlink {

class StreamRenderer : public FrameSink, public DrawPool::Job, public std::enable_shared_from_this<StreamRenderer> {
 public:
  struct Stats {
    uint64_t framesQueued = 0;   // video frames taken from the stream
    uint64_t framesDecoded = 0;  // pictures out of the decoder
    uint64_t framesDrawn = 0;    // pictures drawn into the window, redraws included
    uint64_t framesDropped = 0;  // video frames not decoded (queue full, waiting for a key frame)
    uint64_t framesSkipped = 0;  // decoded, not drawn: newer frames were already waiting
    uint64_t redraws = 0;        // held pictures drawn again
    uint64_t hookCalls = 0;
    uint64_t decodeErrors = 0;
    uint64_t audioFrames = 0;  // audio frames given to the sink
    int64_t cpuNs = 0;         // CPU time spent drawing this stream so far
    size_t queueLength = 0;    // video frames waiting for the drawing thread
    int decoderThreads = 0;    // threads of the current decoder
    int width = 0;             // size of the last decoded picture
    int height = 0;
    bool ended = false;  // the network stream has ended
  };

  // Largest queue of undecoded video; beyond it the oldest work is dropped.
  static constexpr size_t kMaxQueuedFrames = 100;
  static constexpr size_t kMaxQueuedBytes = 16 * 1024 * 1024;
  // Playback rate steps: 2^rate times real time.
  static constexpr int kSlowestRate = -3;
  static constexpr int kFastestRate = 4;

  StreamRenderer(int32_t handle, bool history, std::shared_ptr<AudioSink> sink);
  ~StreamRenderer() override;
  StreamRenderer(const StreamRenderer&) = delete;
  StreamRenderer& operator=(const StreamRenderer&) = delete;

  // Starts the drawing thread (history) or takes the stream into the draw
  // pool (live). Decoding starts at once; drawing waits for play().
  void start();
  // DrawPool::Job: a few frames' work of a live stream.
  void runSlice() override;
  // Ends the drawing thread (waits for it unless called from it) and
  // switches sound off. Frames given afterwards are ignored.
  void shutdown();

  // FrameSink, on the receive thread.
  void onFrame(const DLSDK_MediaFrame& frame) override;
  void onStreamEnd() override;

  // Draws into `window` (0: decode only) from now on and resumes from pause
  // or stop. Answers a DLSDK_ code.
  int play(uint32_t window);
  void pause(bool pause);
  // Stops decoding and drawing; play() starts again at the next key frame.
  void stop();
  // Draws the held picture again.
  void refresh();
  // How many newer video frames may wait before a decoded live picture is
  // no longer drawn (1 .. 100).
  int setQueueFrames(int frames);
  int setVolume(int volume);
  int playSound();
  int stopSound();
  int snapshot(const std::string& path);
  // A null callback removes the hook and waits for a call in progress on
  // another thread.
  void setDrawHook(DLSDK_DrawCallback callback, void* context);
  int setRegion(const DLSDK_Rect* rect, bool enable);

  // History playback: the rate changed by `delta` steps, back to normal, a
  // frame step is coming, or the position jumped.
  void changeRate(int delta);
  void normalRate();
  void armStep();
  void resetPacing();

  Stats stats() const;
  std::shared_ptr<AudioSink> audioSink() const { return sink_; }
  int rate() const;
  // Inside the draw hook: the time stamp (calendar milliseconds) of the
  // picture being drawn and when its frame arrived (steady clock, ns).
  int64_t drawingFrameTimeMs() const { return drawingTimeMs_; }
  int64_t drawingArrivalNs() const { return drawingArrivalNs_; }

 private:
  struct Item {
    std::vector<uint8_t> bytes;  // payload followed by decoder padding
    size_t size = 0;             // payload bytes
    int format = 0;
    bool key = false;
    bool disposable = false;  // no other frame refers to it
    int width = 0;
    int height = 0;
    VideoDecoder::Tag tag;
  };
  struct Region {
    bool enabled = false;
    PictureScaler::Crop crop;
  };

  void run();
  bool hasWorkLocked() const { return resetDecoder_ || redrawRequested_ || !queue_.empty(); }
  // Does one piece of waiting work (a decoder reset, a redraw or one frame);
  // returns with the lock held again.
  void stepLocked(std::unique_lock<std::mutex>& lock);
  // Wakes the drawing thread, or posts a slice to the pool, for new work.
  void wakeLocked();
  void process(Item& item, bool late);
  void onPicture(AVFrame* picture, const VideoDecoder::Tag& tag, bool late);
  // Waits until the picture is due; false when the state changed meanwhile.
  bool pace(const VideoDecoder::Tag& tag);
  void redraw();
  // Makes `target` a reference to `picture` (allocating it first).
  static void keep(AVFrame*& target, const AVFrame* picture);
  bool draw(const AVFrame* picture, const VideoDecoder::Tag& tag);
  void callHook(ui::DeviceContext& dc);
  void dropOldestLocked();
  void onAudio(const DLSDK_MediaFrame& frame, const uint8_t* payload, size_t size);
  void bumpEpochLocked();

  const int32_t handle_;
  const bool history_;
  const std::shared_ptr<AudioSink> sink_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;         // wakes the drawing thread; hook waiters
  std::deque<Item> queue_;             // guarded by mutex_
  size_t queuedBytes_ = 0;             // guarded by mutex_
  bool needKeyAtQueue_ = false;        // guarded by mutex_: drop until a key frame arrives
  uint32_t window_ = 0;                // guarded by mutex_
  bool playing_ = false;               // guarded by mutex_: play() was called
  bool paused_ = false;                // guarded by mutex_
  bool stopped_ = false;               // guarded by mutex_
  bool stepArmed_ = false;             // guarded by mutex_: show step frames while paused
  bool quit_ = false;                  // guarded by mutex_
  bool redrawRequested_ = false;       // guarded by mutex_
  bool resetDecoder_ = false;          // guarded by mutex_
  uint64_t epoch_ = 0;                 // guarded by mutex_: bumped by every state change that re-times playback
  int rate_ = 0;                       // guarded by mutex_
  size_t queueFrames_ = 5;             // guarded by mutex_
  Region region_;                      // guarded by mutex_
  DLSDK_DrawCallback hook_ = nullptr;  // guarded by mutex_
  void* hookContext_ = nullptr;        // guarded by mutex_
  bool inHook_ = false;                // guarded by mutex_
  Stats stats_;                        // guarded by mutex_
  std::thread thread_;                 // started once by start(); joined or detached by shutdown()
  std::thread::id drawThreadId_;       // guarded by mutex_
  const bool pooled_;                  // live streams draw on the pool
  bool started_ = false;               // guarded by mutex_
  bool scheduled_ = false;             // guarded by mutex_: a slice is queued in the pool
  bool running_ = false;               // guarded by mutex_: a pool worker runs a slice

  // Drawing thread only.
  VideoDecoder decoder_;
  PictureScaler scaler_;
  bool anchored_ = false;
  uint64_t anchorEpoch_ = 0;
  int64_t anchorWallNs_ = 0;
  int64_t anchorTimeMs_ = 0;
  int64_t drawingTimeMs_ = 0;
  int64_t drawingArrivalNs_ = 0;
  int64_t lastDrawNs_ = 0;  // steady clock of the last picture drawn

  mutable std::mutex pictureMutex_;
  AVFrame* lastPicture_ = nullptr;  // guarded by pictureMutex_: the last decoded picture (a reference)
  AVFrame* heldPicture_ = nullptr;  // guarded by pictureMutex_: the last picture meant for the window

  std::mutex audioMutex_;
  bool soundOn_ = false;       // guarded by audioMutex_
  bool audioBlocked_ = false;  // guarded by audioMutex_: paused, stopped or shut down
  int volume_ = 0xFFFF;        // guarded by audioMutex_
  std::vector<int16_t> pcm_;   // guarded by audioMutex_: reused sample buffer
  std::atomic<uint64_t> audioFrames_{0};
};

}  // namespace devlink
