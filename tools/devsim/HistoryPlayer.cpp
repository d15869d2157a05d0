#include "tools/devsim/HistoryPlayer.h"

#include <algorithm>

namespace devsim {

HistoryPlayer::HistoryPlayer(const std::vector<RecordingSpan>& spans, int64_t rangeBegin, int64_t rangeEnd)
    : beginFrame_(rangeBegin * kFrameRate), endFrame_(std::max(rangeBegin, rangeEnd) * kFrameRate) {
  std::vector<RecordingSpan> sorted = spans;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.begin < b.begin; });
  for (const RecordingSpan& s : sorted) {
    RecordingSpan f{std::max(s.begin * kFrameRate, beginFrame_), std::min(s.end * kFrameRate, endFrame_), s.type};
    if (f.begin >= f.end) continue;
    if (!spans_.empty() && f.begin <= spans_.back().end) {
      spans_.back().end = std::max(spans_.back().end, f.end);
    } else {
      spans_.push_back(f);
    }
  }
  cursor_ = spans_.empty() ? endFrame_ : spans_.front().begin;
}

bool HistoryPlayer::isRecorded(int64_t frame) const {
  for (const RecordingSpan& s : spans_) {
    if (frame >= s.begin && frame < s.end) return true;
  }
  return false;
}

std::optional<int64_t> HistoryPlayer::nextRecorded(int64_t frame) const {
  for (const RecordingSpan& s : spans_) {
    if (frame < s.end) return std::max(frame, s.begin);
  }
  return std::nullopt;
}

void HistoryPlayer::start(bool paced) {
  playing_ = true;
  paced_ = paced;
}

void HistoryPlayer::pause() { playing_ = false; }

void HistoryPlayer::position(int64_t seconds) {
  int64_t f = std::clamp(seconds * kFrameRate, beginFrame_, endFrame_);
  f -= f % kGop;  // decoding must start at a key frame
  if (f < beginFrame_) f = beginFrame_;
  cursor_ = f;
  lastSent_ = -1;
  endSent_ = false;
  pending_.clear();
}

void HistoryPlayer::faster() { rate_ = std::min(rate_ + 1, kFastestRate); }
void HistoryPlayer::slower() { rate_ = std::max(rate_ - 1, kSlowestRate); }
void HistoryPlayer::normalRate() { rate_ = 0; }

void HistoryPlayer::stepForward() {
  playing_ = false;
  const auto f = nextRecorded(cursor_);
  if (!f) {
    if (!endSent_) {
      endSent_ = true;
      pending_.push_back(Item{endFrame_, false, true});
    }
    return;
  }
  pending_.push_back(Item{*f, false, false});
  cursor_ = *f + 1;
  lastSent_ = *f;
}

void HistoryPlayer::stepBack() {
  playing_ = false;
  if (lastSent_ < 0) return;
  const int64_t target = lastSent_ - 1;
  if (target < beginFrame_ || !isRecorded(target)) return;
  // Key frames fall on whole seconds and recordings start on whole seconds,
  // so the key frame of the target lies in the same recording.
  const int64_t key = target - target % kGop;
  for (int64_t f = key; f <= target; ++f) pending_.push_back(Item{f, f != target, false});
  cursor_ = target + 1;
  lastSent_ = target;
  endSent_ = false;
}

std::optional<HistoryPlayer::Item> HistoryPlayer::advance() {
  auto f = nextRecorded(cursor_);
  if (f && rate_ >= kKeyFramesOnlyRate) {
    // Fast play sends key frames only: move up to the next one.
    *f += (kGop - *f % kGop) % kGop;
    f = nextRecorded(*f);
  }
  if (!f) {
    if (endSent_) return std::nullopt;
    endSent_ = true;
    playing_ = false;
    return Item{endFrame_, false, true};
  }
  cursor_ = rate_ >= kKeyFramesOnlyRate ? *f + (static_cast<int64_t>(kGop) << (rate_ - kKeyFramesOnlyRate)) : *f + 1;
  lastSent_ = *f;
  return Item{*f, false, false};
}

std::optional<HistoryPlayer::Item> HistoryPlayer::next() {
  if (!pending_.empty()) {
    const Item item = pending_.front();
    pending_.pop_front();
    return item;
  }
  if (!playing_) return std::nullopt;
  return advance();
}

int64_t HistoryPlayer::intervalMicros() const {
  constexpr int64_t kFrame = 1000000 / kFrameRate;
  if (rate_ < 0) return kFrame << -rate_;
  if (rate_ < kKeyFramesOnlyRate) return kFrame >> rate_;
  // Fast play sends four key frames a second whatever the rate; the rate
  // decides how many seconds of recording each one skips.
  return 250000;
}

}  // namespace devsim
