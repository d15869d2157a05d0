// The playback operations of a video cell with the playback mark: its
// recorded stream, always used on the cell's window thread.
#include <memory>
#include <new>

#include "platform/ui/WindowApi.h"
#include "plugin/api/SdkResult.h"
#include "plugin/api/ksplugs.h"
#include "plugin/video/live/CPreviewer.h"

namespace ksplugs {

namespace {

// The stream's "not open" answer reaches the page as a malformed request.
int cellCode(int sdkCode) {
  if (sdkCode == RecordedStream::kNotOpen) return KS_E_INVALID;
  return sdkCode == 0 ? KS_OK : MapSdkResult(sdkCode);
}

}  // namespace

int CPreviewer::playbackOpen(int channel, bool remote, bool mainStream, int typeMask, const SystemTime& time) {
  return onWindowThread(static_cast<int>(KS_E_NOT_READY), [&]() -> int {
    if (!playback_) return KS_E_INVALID;
    if (recorded_ && recorded_->isOpen()) {
      // One playback at a time; asking again for the one that plays only
      // brings it back to the normal rate.
      if (recorded_->channel() != channel) return KS_E_BUSY;
      return cellCode(recorded_->resume());
    }
    if (!remote) return KS_E_NOT_SUPPORTED;  // files on this computer are not played
    if (!recorded_) {
      recorded_.reset(new (std::nothrow) RecordedStream());
      if (!recorded_) return KS_E_NO_MEMORY;
    }
    channel_ = channel;
    if (stream_ && !stream_->isOpen()) stream_->setChannel(channel);
    const int rc = recorded_->open(device_, channel, time, typeMask, mainStream, surface_.hwnd());
    if (rc != 0) channel_ = -1;
    return cellCode(rc);
  });
}

int CPreviewer::onPlayingChannel(int channel, const std::function<int(RecordedStream&)>& work) {
  return onWindowThread(static_cast<int>(KS_E_INVALID), [&]() -> int {
    if (!recorded_ || !recorded_->isOpen() || recorded_->channel() != channel) return KS_E_INVALID;
    return cellCode(work(*recorded_));
  });
}

int CPreviewer::playbackOperate(int channel, int operation) {
  if (operation == 3) {
    return onWindowThread(KS_OK, [&] {
      // A stop for a channel that does not play changes nothing.
      if (recorded_ && recorded_->isOpen() && recorded_->channel() == channel) closePlayback();
      return static_cast<int>(KS_OK);
    });
  }
  switch (operation) {
    case 2: return onPlayingChannel(channel, [](RecordedStream& s) { return s.pauseToggle(); });
    case 4: return onPlayingChannel(channel, [](RecordedStream& s) { return s.step(false); });
    case 5: return onPlayingChannel(channel, [](RecordedStream& s) { return s.step(true); });
    default: return KS_E_INVALID;
  }
}

int CPreviewer::playbackSpeed(int channel, bool fast, bool normal) {
  return onPlayingChannel(channel, [&](RecordedStream& s) { return normal ? s.resume() : s.speed(fast); });
}

int CPreviewer::playbackMute(int channel, bool mute) {
  return onPlayingChannel(channel, [&](RecordedStream& s) { return s.setSound(!mute); });
}

int CPreviewer::playbackSeek(int channel, const SystemTime& time) {
  return onPlayingChannel(channel, [&](RecordedStream& s) { return s.seek(time); });
}

int CPreviewer::playbackPosition(int channel, SystemTime& time, int& progress) {
  return onPlayingChannel(channel, [&](RecordedStream& s) {
    const int rc = s.getTime(time);
    if (rc == 0) progress = -1;
    return rc;
  });
}

int CPreviewer::playbackChannel() {
  return onWindowThread(-1, [&] { return recorded_ && recorded_->isOpen() ? recorded_->channel() : -1; });
}

void CPreviewer::releasePlayback() {
  onWindowThread(0, [&] {
    closePlayback();
    return 0;
  });
}

void CPreviewer::closePlayback() {
  if (!recorded_ || !recorded_->isOpen()) return;
  if (recorded_->soundOn()) recorded_->setSound(false);
  recorded_->close();
  channel_ = -1;
  // The last recorded picture goes with the stream.
  if (hwnd() != 0) {
    ui::invalidateRect(hwnd(), nullptr, true);
    if (surface_.hwnd() != 0) ui::invalidateRect(surface_.hwnd(), nullptr, true);
  }
}

}  // namespace ksplugs
