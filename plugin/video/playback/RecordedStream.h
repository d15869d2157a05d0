#pragma once
// One day of a channel's recordings on the device, played into a cell's
// video surface through the device SDK: opened at a time of that day, then
// paused, stepped, played fast or slow, sought, asked for its time, with
// sound switched and snapshots taken.
//
// Threads: every operation runs on the playback cell's window thread (the
// cell sends them there), so the handle is never used by one thread while
// another closes it; the SDK hands a closed handle out again, and a late
// call on a stale handle would act on someone else's stream. No field is
// locked for that reason: all of them belong to that one thread.
#include <cstdint>
#include <string>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/Types.h"
#include "plugin/api/ksplugs.h"

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class RecordedStream {
 public:
  enum class State { kClosed, kPlaying, kPaused };
  // Answer of the operations while the stream is closed or cannot be used.
  static constexpr int kNotOpen = 10001;

  RecordedStream() = default;
  ~RecordedStream();
  RecordedStream(const RecordedStream&) = delete;
  RecordedStream& operator=(const RecordedStream&) = delete;

  // Opens the day of `time` (00:00:00 to 23:59:59) of `channel` on `device`
  // and plays it into `surface` from `time`. 0 when already open; 10001
  // without a logged-in device or for a time that is no calendar time;
  // otherwise the SDK code of the step that failed (the stream is then
  // destroyed again).
  int open(WebPlug_NCL::CDVSDevice* device, int channel, const SystemTime& time, int typeMask, bool mainStream,
           ui::HWND surface);
  // Always 0.
  int close();
  int pauseToggle();
  int resume();
  int speed(bool fast);
  // Leaves the stream paused on the next (or the previous) frame.
  int step(bool back);
  // "Already on/off" counts as success.
  int setSound(bool on);
  int seek(const SystemTime& time);
  int snapshot(const std::string& path);
  // Draws the held picture again while not playing.
  void refresh();
  // The time of the last frame shown, or before the first frame of an open
  // or a seek the time asked for; year..second are written, day of week and
  // milliseconds are left as they are.
  int getTime(SystemTime& out);

  bool isOpen() const { return handle_ != -1; }
  State state() const { return state_; }
  int channel() const { return channel_; }
  int32_t handle() const { return handle_; }
  bool soundOn() const { return soundOn_; }

  // The request for one day of recordings, as the SDK takes it.
  static DLSDK_HistoryStreamRequest dayRequest(int channel, const SystemTime& day, int typeMask, bool mainStream,
                                               uint16_t mediaPort);
  // Whether year..second name a real calendar time (years 1970 to 9999).
  static bool validTime(const SystemTime& time);
  // The SDK's seconds broken down as UTC into `out` (year..second).
  static bool fromSeconds(int64_t seconds, SystemTime& out);

 private:
  int32_t handle_ = -1;
  State state_ = State::kClosed;
  int channel_ = -1;
  ui::HWND surface_ = 0;
  bool soundOn_ = false;
  // The time last asked for (open or seek) and the SDK's frame time at that
  // moment: until the frame time moves on from it, the asked time is the
  // answer, so a position query never reports the old place or nothing.
  SystemTime asked_{};
  int64_t frameAtAsk_ = 0;
};

}  // namespace ksplugs
