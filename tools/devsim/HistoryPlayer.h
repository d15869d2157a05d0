#pragma once
// The order in which a history stream sends its frames: position, rate,
// pause and frame steps over the recorded spans of the requested range. A
// pure state machine in frame numbers (calendar seconds * 25 + frame), so it
// is tested without sockets or clocks; the connection decides when to ask
// for the next frame.
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "tools/devsim/RecordingSchedule.h"

namespace devsim {

class HistoryPlayer {
 public:
  static constexpr int kFrameRate = 25;
  static constexpr int kGop = 25;
  static constexpr int kSlowestRate = -3;       // 1/8
  static constexpr int kFastestRate = 4;        // 16x
  static constexpr int kKeyFramesOnlyRate = 2;  // from 4x on

  struct Item {
    int64_t frame = 0;     // absolute frame number
    bool preroll = false;  // decode only
    bool end = false;      // the end-of-data marker; `frame` is where data ended
  };

  // `spans` as the schedule answers them for [rangeBegin, rangeEnd)
  // (calendar seconds); they may overlap. Starts paused at the first
  // recorded frame.
  HistoryPlayer(const std::vector<RecordingSpan>& spans, int64_t rangeBegin, int64_t rangeEnd);

  void start(bool paced);
  void pause();
  void position(int64_t seconds);
  void faster();
  void slower();
  void normalRate();
  void stepForward();
  void stepBack();

  // The next frame to send: queued step frames first (also while paused),
  // then, while playing, the next frame in order. Nothing when paused or
  // after the end marker.
  std::optional<Item> next();

  bool playing() const { return playing_; }
  bool paced() const { return paced_; }
  int rate() const { return rate_; }
  // Time between two items while playing paced at the current rate.
  int64_t intervalMicros() const;
  bool hasPending() const { return !pending_.empty(); }

 private:
  // First frame at or after `frame` that lies in a recording, within range.
  std::optional<int64_t> nextRecorded(int64_t frame) const;
  bool isRecorded(int64_t frame) const;
  std::optional<Item> advance();

  std::vector<RecordingSpan> spans_;  // merged, sorted, in frames [begin, end)
  int64_t beginFrame_;
  int64_t endFrame_;
  int64_t cursor_;         // the next frame in order
  int64_t lastSent_ = -1;  // last frame handed out, -1 none since the last jump
  bool playing_ = false;
  bool paced_ = true;
  bool endSent_ = false;
  int rate_ = 0;  // 2^rate_ times real time
  std::deque<Item> pending_;
};

}  // namespace devsim
