#pragma once
// A video cell: one tile of the live-view dock showing one channel's live
// stream in its video surface, with the channel title and the bitrate label
// across its top, a context menu for the bitrate display and the stream
// choice, digital zoom by dragging a rectangle, keep-aspect placement,
// snapshots and recording requests, and the events it raises for the page
// (1 bitrate display, 2 selected, 3 stream switched, 4 file ready). The
// hidden settings cell of a dock is a cell with the settings mark: its
// surface fills it and an overlay draws and edits over the picture. The
// player of a playback dock is a cell with the playback mark that plays a
// recorded stream (plugin/video/playback/PlaybackCell.cpp).
//
// A live cell is closed, connecting, live, or reconnecting. Opening from a
// command thread connects on the ConnectPool while the cell shows
// "connecting" as its caption; the command thread waits for the answer (an
// OpenWaiter) without holding the window's thread, so one device that does
// not answer stalls no other cell or dock. Opening on the window's own
// thread (its own code, tests) connects in place as before. When the
// connection of a live stream breaks, the cell shows "reconnecting" and
// tries again after 1, 2, 4, ... seconds, at most 30 (ReconnectBackoff),
// for as long as it stays open; snapshots meanwhile answer 1005.
//
// Threads: the cell's window and every field below belong to the UI thread
// that created the window; the public operations are sent to that thread
// (ui::sendTask), so command threads may call them. The draw hook runs
// on the SDK's drawing thread and reads only the drag fields, which are
// atomics. Connect jobs and the stream's end callback reach the cell only
// through tasks posted to its window, which are dropped once the window is
// gone (window handles are never reused). The cell object deletes itself
// after its window's final message.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys/TimeText.h"
#include "platform/ui/StaticLabel.h"
#include "platform/ui/Window.h"
#include "plugin/session/StreamKind.h"
#include "plugin/video/CellOverlay.h"
#include "plugin/video/VideoServices.h"
#include "plugin/video/live/CPlayerWnd.h"
#include "plugin/video/live/CellGeometry.h"
#include "plugin/video/live/LiveStream.h"
#include "plugin/video/live/OpenWaiter.h"
#include "plugin/video/live/ReconnectBackoff.h"
#include "plugin/video/playback/RecordedStream.h"

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class CPreviewer : public ui::Window {
 public:
  static constexpr ui::COLORREF kBackground = ui::RGB(0x48, 0x4D, 0x5A);
  static constexpr ui::COLORREF kZoomColor = ui::RGB(0, 255, 0);
  // Height of the label row across the top of a live cell.
  static constexpr int kLabelHeight = 20;
  // The caller's snapshot path buffer.
  static constexpr size_t kPathBytes = 260;
  // Captions while the cell waits for its device.
  static constexpr std::u16string_view kConnectingCaption = u"connecting";
  static constexpr std::u16string_view kReconnectingCaption = u"reconnecting";
  static constexpr uint32_t kReconnectTimerId = 10001;
  // A live stream without a frame for this long counts as broken, even
  // when its connection stays up (a device that hangs, a cable pulled).
  static constexpr int64_t kSilenceLimitMs = 10000;
  static constexpr uint32_t kSilenceTimerId = 10002;
  static constexpr uint32_t kSilenceCheckMs = 1000;
  // How long a command thread waits for an open at most: a login and a
  // connection, each tried twice, within the SDK's time-outs.
  static constexpr std::chrono::milliseconds kOpenWaitLimit{120000};

  enum class Phase { kClosed, kConnecting, kLive, kReconnecting };

  // `services` are shared with the dock; null gives the cell services of
  // its own that record nothing and drop events.
  CPreviewer(int channel, bool settings, std::shared_ptr<const VideoServices> services = nullptr);
  ~CPreviewer() override;

  // Creates the window as a child of `parent` (style child | visible, or
  // child alone for a hidden cell). 0 on failure; the caller then still owns
  // the object.
  ui::HWND createCell(ui::HWND parent, bool visible);

  void setPlaybackMark() { playback_ = true; }
  bool isSettingsCell() const { return settings_; }
  // Stores the device and creates the cell's live stream for it.
  void setDevice(WebPlug_NCL::CDVSDevice* device);
  void setChannel(int channel);
  // Closes the stream and forgets the device, which is about to be
  // destroyed while this window may still receive messages.
  void detachDevice();
  int channel() const { return channel_; }

  // Operations; result codes of the library, SDK codes mapped.
  //
  // Opening answers once the stream is drawn or failed; a second open of a
  // cell still connecting waits for the same attempt, an open of a cell
  // reconnecting tries at once. Closing gives up an attempt under way (its
  // waiters hear 1009).
  int open(int streamType, bool open);
  // The first half of an open from another thread: starts connecting and
  // hands out the waiter of the answer (null when answered at once, with
  // that answer). Lets a dock start many cells before waiting for any.
  int startOpen(int streamType, std::shared_ptr<OpenWaiter>& waiter);
  int switchStream(int streamType, bool announce);
  // The same for a switch.
  int startSwitch(int streamType, bool announce, std::shared_ptr<OpenWaiter>& waiter);
  int setMute(bool mute);
  int zoomOn();
  int zoomOff();
  int setKeepAspect(bool on);
  int setBitrates(int kbpsMain, int kbpsSub, int kbpsThird);
  int setTitle(const char16_t* text);
  // `path` is the caller's buffer of kPathBytes: a path to use, or empty to
  // have one made; the path written is copied back into it. A path of the
  // caller's must fit SnapshotPath::acceptsPagePath and is created new;
  // otherwise 1005 and nothing is written. An unterminated buffer is 1000.
  // Success is the snapshot's own result: 1005 before the first picture.
  int snapshot(bool live, int format, char* path);
  // Starts or stops recording. Stopping answers in *path where the
  // recording went ("" when nothing was recorded).
  int setRecording(bool start, std::string* path = nullptr);
  void setFont(ui::HFONT font, bool redraw);

  // Playback cells (with the playback mark): their recorded stream. Each
  // runs on the window thread and answers the library's codes, SDK codes
  // mapped. Operations that name a channel act only on a stream open on that
  // channel and answer 1000 otherwise; an open stream never changes channel.
  //
  // Opens the day of `time` on `channel` (remote) and plays it from `time`;
  // a failure leaves the cell without a channel.
  int playbackOpen(int channel, bool remote, bool mainStream, int typeMask, const SystemTime& time);
  // The page's play operations on a running playback: 2 pause toggle, 3 stop
  // (0 and nothing changed when another channel or nothing plays), 4 step
  // forward, 5 step back.
  int playbackOperate(int channel, int operation);
  int playbackSpeed(int channel, bool fast, bool normal);
  int playbackMute(int channel, bool mute);
  int playbackSeek(int channel, const SystemTime& time);
  // Writes the time shown into `time` and -1 into `progress`.
  int playbackPosition(int channel, SystemTime& time, int& progress);
  // The channel whose recorded stream is open, or -1.
  int playbackChannel();
  // Stops a running playback; the cell keeps its window.
  void releasePlayback();
  // The recorded stream, for tests and benchmarks on the window thread.
  RecordedStream* recorded() { return recorded_.get(); }

  // The settings cell's part of the page's settings command: 1 apply, 2
  // read back, 3 hide every editor, anything else 0. 1009 unless the
  // cell's stream is open; 1006 without an overlay. UI thread.
  int settingsRecord(DeviceSettingsParam& record);

  // State, for the dock and for tests (UI thread).
  bool isOpen() const { return stream_ && stream_->isOpen(); }
  Phase phase() const { return phase_; }
  int streamType() const { return streamType_; }
  bool showBitrate() const { return showBitrate_; }
  bool zoomActive() const { return zoomOn_; }
  const ZoomRegion& zoomRegion() const { return region_; }
  bool keepAspect() const { return keepAspect_; }
  bool recording() const { return recording_; }
  bool soundOn() const { return soundOn_; }
  LiveStream* stream() { return stream_.get(); }
  ui::HWND surface() const { return surface_.hwnd(); }
  ui::HWND titleLabel() const { return titleLabel_.hwnd(); }
  ui::HWND bitrateLabel() const { return bitrateLabel_.hwnd(); }
  CellOverlay* overlay() { return overlay_.get(); }

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 protected:
  void onFinalMessage(ui::HWND hwnd) override;

 private:
  ui::LRESULT onCreate();
  void onDestroy();
  void closeForGood();
  void onSize();
  void onPaint();
  void onContextMenu();
  void onCommand(unsigned id);
  void onTimer();
  void onLeftDown(ui::LPARAM lParam);
  void onMouseMove(ui::LPARAM lParam);
  void onLeftUp(ui::LPARAM lParam);
  void onFileReady(int kind, char16_t* path);
  void onVideoSizeChanged();

  // Runs `work` on the window's thread; `fallback` when there is no window.
  int onWindowThread(int fallback, const std::function<int()>& work);
  int doOpen(int streamType, bool open);
  int doSwitchStream(int streamType, bool announce);
  // Opening without waiting (window thread): `waiter`, when given, gets the
  // answer. A switch announces itself to the page on success when asked.
  int beginOpen(int streamType, std::shared_ptr<OpenWaiter>* waiter);
  int beginSwitch(int streamType, bool announce, std::shared_ptr<OpenWaiter>* waiter);
  // What a switch does before it connects the new stream.
  void leaveStreamForSwitch();
  // The stream is open, live and not broken.
  bool playing() const;
  // Closes the settings cell's stream (its sound first) before it opens again.
  void closeForReopen();
  void startAttempt(int streamType, bool announce);
  void onConnected(uint64_t attempt);
  void onStreamBroken();
  void scheduleReconnect();
  // The stream is drawn: timers, hook, caption and layout follow.
  void becomeLive(int streamType);
  // An open failed or the stream closed: the labels and the surface go blank.
  void clearAfterClose();
  void completeWaiters(int result);
  // The caption for the phase: the title, or why the cell waits.
  void showCaption();
  bool waitingForDevice() const { return phase_ == Phase::kConnecting || phase_ == Phase::kReconnecting; }
  bool onOwnThread() const { return windowThread_.load() == std::this_thread::get_id(); }
  int doSnapshot(bool live, int format, char* path);
  // Writes the picture of the live stream or, with `live` false, of the
  // recorded stream to `path`; the SDK's code.
  int takePicture(bool live, const std::string& path);
  bool pictureOpen(bool live) const;
  // Runs `work` on the recorded stream when it is open on `channel`;
  // 1000 when it is not. `work` answers an SDK code.
  int onPlayingChannel(int channel, const std::function<int(RecordedStream&)>& work);
  void closePlayback();
  int snapshotToPagePath(const std::string& chosen, int format, bool live);
  void postFileReady(int kind, const std::string& path);
  void toggleBitrate();
  void placeSurface();
  bool isLiveCell() const { return !playback_ && !settings_; }
  bool titleShown() const;
  void raise(int type, int32_t first, int32_t second, const char* url = nullptr);

  static void drawHook(int32_t streamHandle, void* deviceContext, void* context);

  const std::shared_ptr<const VideoServices> services_;  // never changed
  // UI thread only.
  bool zoomOn_ = false;
  ui::Rect dragSurfaceRect_;
  ZoomRegion region_;
  // Written on the UI thread, read by the draw hook on the SDK's thread.
  std::atomic<int> dragStartX_{0};
  std::atomic<int> dragStartY_{0};
  std::atomic<int> dragCurrentX_{0};
  std::atomic<int> dragCurrentY_{0};
  std::atomic<bool> dragging_{false};
  std::atomic<bool> drawRect_{false};
  // UI thread only.
  int streamType_ = StreamKind::kDeviceMain;
  std::unique_ptr<LiveStream> stream_;
  std::unique_ptr<RecordedStream> recorded_;  // UI thread only; playback cells
  bool playback_ = false;
  const bool settings_;
  CPlayerWnd surface_;
  ui::StaticLabel titleLabel_;
  ui::StaticLabel bitrateLabel_;
  ui::Rect surfaceRect_;  // screen, at the last size change
  ui::Rect cellRect_;     // screen
  bool showBitrate_ = false;
  int kbpsMain_ = 0;
  int kbpsSub_ = 0;
  int kbpsThird_ = 0;
  bool recording_ = false;
  bool soundOn_ = false;
  bool keepAspect_ = false;
  WebPlug_NCL::CDVSDevice* device_ = nullptr;  // not owned; outlives the cell
  int channel_ = 0;
  std::u16string title_;
  std::unique_ptr<CellOverlay> overlay_;  // settings cells; created before the stream opens
  // UI thread only.
  Phase phase_ = Phase::kClosed;
  int attemptType_ = 0;           // the stream type the attempt under way connects
  bool announceAttempt_ = false;  // the attempt is a switch the page hears of
  ReconnectBackoff backoff_;
  std::vector<std::shared_ptr<OpenWaiter>> waiters_;  // answered when the attempt under way ends
  // Written once by onCreate() on the window's thread; read by callers to
  // choose between connecting in place and waiting off the window's thread.
  std::atomic<std::thread::id> windowThread_{};
};

}  // namespace ksplugs
