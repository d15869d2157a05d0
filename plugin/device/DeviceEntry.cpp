#include "plugin/device/DeviceEntry.h"

#include <new>

#include "plugin/video/CPreviewer.h"

namespace ksplugs {

DeviceEntry::DeviceEntry() = default;

DeviceEntry::~DeviceEntry() = default;

int DeviceEntry::initialise(uint32_t id, DeviceCreateParam& record) {
  if (uniqueId_ != 0) return KS_OK;
  try {
    auto session = std::make_unique<WebPlug_NCL::CDVSDevice>();
    auto live = std::make_unique<CPreviewManager>();
    auto playback = std::make_unique<CPlaybackManager>();
    // Everything that can fail is allocated before the record is touched, so
    // a failure leaves the caller's stream block with the caller.
    record.uniqueId = id;
    session->copyFrom(record);
    uniqueId_ = id;
    session_ = std::move(session);
    liveDock_ = std::move(live);
    playbackDock_ = std::move(playback);
  } catch (...) {
    return KS_E_NO_MEMORY;
  }
  refCount_.fetch_add(1, std::memory_order_relaxed);  // the creation reference
  liveDock_->setSession(session_.get());
  playbackDock_->setSession(session_.get());
  downloadTask_.setSession(session_.get());
  return KS_OK;
}

bool DeviceEntry::markClosingAndHide() {
  const bool first = !closing_.exchange(true, std::memory_order_acq_rel);
  if (liveDock_ && liveDock_->hasWindow()) liveDock_->hide();
  if (playbackDock_ && playbackDock_->hasWindow()) playbackDock_->hide();
  return first;
}

void DeviceEntry::silence() {
  if (!session_) return;
  const bool loggedIn = session_->loginHandle() != -1;
  // The playback cells that play audio come with the playback dock window.
  if (loggedIn && liveDock_ && liveDock_->hasWindow()) {
    for (int channel = 0; channel < session_->channelCount(); ++channel) {
      if (CPreviewer* cell = liveDock_->findCell(channel, false)) cell->setMute(true);
    }
  }
  if (loggedIn) session_->talkStop();
}

bool DeviceEntry::leaveFullScreen() {
  if (!liveDock_ || !liveDock_->hasWindow() || !liveDock_->isFullScreen()) return false;
  liveDock_->setLayout(0);
  return true;
}

void DeviceEntry::trackDocks() {
  // Dock windows do not exist yet; the placement work keeps the live dock and
  // then the playback dock over their browser windows here.
}

void DeviceEntry::teardown() {
  // Streams outlive a logout, so the live cells close theirs before it; the
  // dock windows themselves close later on their own thread.
  const bool liveWindow = liveDock_ && liveDock_->hasWindow();
  if (session_ && session_->loginHandle() != -1 && liveWindow) {
    for (int channel = 0; channel < session_->channelCount(); ++channel) {
      if (CPreviewer* cell = liveDock_->findCell(channel, false)) cell->open(1, false);
    }
  }
  downloadTask_.stop();
  if (liveWindow) {
    if (CPreviewer* settings = liveDock_->findCell(0, true)) settings->open(1, false);
  }
  if (session_) session_->talkStop();
  if (playbackDock_ && playbackDock_->hasWindow()) playbackDock_->releasePlayer();
  if (session_) session_->logout();
  // A dock window deletes its object itself once it has closed; a dock
  // without a window is deleted here.
  if (liveDock_) {
    if (liveDock_->postClose()) {
      (void)liveDock_.release();
    } else {
      liveDock_.reset();
    }
  }
  if (playbackDock_) {
    if (playbackDock_->postClose()) {
      (void)playbackDock_.release();
    } else {
      playbackDock_.reset();
    }
  }
}

int DeviceEntry::liveControl(LiveControlParam&) { return KS_E_NOT_READY; }

int DeviceEntry::playbackControl(PlaybackControlParam&) { return KS_E_NOT_READY; }

int DeviceEntry::snapshot(SnapshotParam&) { return KS_E_NOT_READY; }

int DeviceEntry::streamRecord(StreamRecordParam&) { return KS_E_NOT_READY; }

int DeviceEntry::downloadControl(DownloadControlParam&) { return KS_E_NOT_READY; }

int DeviceEntry::settings(DeviceSettingsParam&, int) { return KS_E_NOT_READY; }

int DeviceEntry::createDock(int, void*) {
  // Dock windows cannot be created yet.
  return KS_E_WINDOW;
}

}  // namespace ksplugs
