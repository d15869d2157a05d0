#include "plugin/device/DeviceEntry.h"

#include <new>
#include <string>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"
#include "plugin/device/CommandTranslation.h"
#include "plugin/device/DockPlacement.h"
#include "plugin/video/CPreviewer.h"
#include "plugin/video/WindowThreadCall.h"

namespace ksplugs {

namespace {

// The title buffer of a preview holds 260 units with its terminator.
constexpr size_t kTitleUnits = 260;
// Captions are bounded like every text that comes from the page; the
// caption array has 64 slots.
constexpr size_t kCaptionUnits = 260;
constexpr int kCaptionSlots = 64;

std::u16string boundedText(const char16_t* text, size_t maxUnits) {
  if (text == nullptr) return {};
  return std::u16string(text, sys::utf16Length(text, maxUnits));
}

template <typename PreviewBody>
std::u16string previewTitle(const PreviewBody& preview) {
  std::u16string title = boundedText(preview.title, kTitleUnits);
  // An unterminated buffer keeps its first 259 units, as a terminated one would.
  if (title.size() >= kTitleUnits) title.resize(kTitleUnits - 1);
  return title;
}

// The caption in slot `index` of a page's caption array; empty when the
// array, the slot or its text is missing.
std::u16string caption(char16_t* const* names, int index) {
  if (names == nullptr || index < 0 || index >= kCaptionSlots) return {};
  return boundedText(names[index], kCaptionUnits);
}

// The page's port of its connection; a value no TCP port can have finds no
// socket.
template <typename PreviewBody>
bool clientPortOf(const PreviewBody& preview, uint16_t& port) {
  if (preview.clientPort > 0xFFFF) return false;
  port = static_cast<uint16_t>(preview.clientPort);
  return true;
}

}  // namespace

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

DockAnchor DeviceEntry::liveAnchor() const {
  std::lock_guard lock(anchorLock_);
  return liveAnchor_;
}

DockAnchor DeviceEntry::playbackAnchor() const {
  std::lock_guard lock(anchorLock_);
  return playbackAnchor_;
}

void DeviceEntry::trackDocks() {
  if (closing()) return;
  trackLiveDock();
  trackPlaybackDock();
}

void DeviceEntry::trackLiveDock() {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr) return;
  const ui::HWND window = dock->window();
  if (window == 0 || !dock->shown() || dock->isFullScreen()) return;
  ui::HWND owner = dock->ownerWindow();
  // The step works on a copy: window queries may wait for other threads,
  // and no lock is held meanwhile. A re-found browser goes back unless a
  // command placed the dock anew in the meantime.
  DockAnchor anchor = liveAnchor();
  if (anchor.browserWindow == 0) return;
  const ui::HWND followed = anchor.browserWindow;
  DockPlacement::track(anchor, window, owner, DockKind::kLive);
  if (anchor.browserWindow != followed) {
    std::lock_guard lock(anchorLock_);
    if (liveAnchor_.browserWindow == followed) {
      liveAnchor_.browserWindow = anchor.browserWindow;
      liveAnchor_.title = anchor.title;
    }
  }
  if (owner != dock->ownerWindow()) dock->setOwnerWindow(owner);
  // An owned window is out of sight while its owner is minimised, and back
  // when the owner is restored. Both changes are queued to the dock's thread:
  // this thread never waits for the user-interface thread. Hiding skips the
  // dock's own position check, which would keep a shown dock visible;
  // showing goes through it, so a dock the page hid meanwhile stays hidden.
  const bool ownerMinimised = owner != 0 && ui::isIconic(owner);
  const bool visible = (ui::getWindowStyle(window) & ui::WS_VISIBLE) != 0;
  constexpr ui::UINT kKeep =
      ui::SWP_NOMOVE | ui::SWP_NOSIZE | ui::SWP_NOZORDER | ui::SWP_NOACTIVATE | ui::SWP_ASYNCWINDOWPOS;
  if (ownerMinimised && visible) {
    ui::setWindowPos(window, 0, 0, 0, 0, 0, kKeep | ui::SWP_HIDEWINDOW | ui::SWP_NOSENDCHANGING);
  } else if (!ownerMinimised && !visible) {
    ui::setWindowPos(window, 0, 0, 0, 0, 0, kKeep | ui::SWP_SHOWWINDOW);
  }
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

// ---- live view --------------------------------------------------------------

int DeviceEntry::liveControl(LiveControlParam& param) {
  if (!session_) return KS_E_NOT_READY;
  const int channels = session_->channelCount();
  if (param.channel < 0 || param.channel >= channels) return KS_E_INVALID;
  CPreviewManager* dock = liveDock_.get();
  const bool window = dock != nullptr && dock->hasWindow();
  // The live cell of the record's channel, when the dock window has one.
  auto liveCell = [&]() -> CPreviewer* { return window ? dock->findCell(param.channel, false) : nullptr; };

  switch (param.type) {
    case LIVE_PREVIEW:
      return livePreview(param);
    case LIVE_AUDIO: {
      if (!loggedIn()) return KS_E_NOT_READY;
      CPreviewer* cell = liveCell();
      return cell != nullptr ? cell->setMute(param.audio.mute != 0) : KS_E_CHANNEL;
    }
    case LIVE_TALK:
      if (!loggedIn()) return KS_E_NOT_READY;
      if (param.talk.open == 0) return session_->talkStop();
      return session_->talkStart(CommandTranslation::talkCodec(param.talk.codec));
    case LIVE_DIGITAL_ZOOM: {
      if (!loggedIn()) return KS_E_CHANNEL;
      CPreviewer* cell = liveCell();
      if (cell == nullptr) return KS_E_CHANNEL;
      return param.digitalZoom.open != 0 ? cell->zoomOn() : cell->zoomOff();
    }
    case LIVE_FULLSCREEN:
      // A toggle: the page's "enter" is not consulted.
      if (window) dock->setLayout(0);
      return KS_OK;
    case LIVE_ASPECT_RATIO: {
      if (!loggedIn()) return KS_E_CHANNEL;
      CPreviewer* cell = liveCell();
      return cell != nullptr ? cell->setKeepAspect(param.aspectRatio.ratio != 0) : KS_E_CHANNEL;
    }
    case LIVE_SWITCH_STREAM: {
      if (!window || !loggedIn()) return KS_E_NOT_READY;
      CPreviewer* cell = liveCell();
      if (cell == nullptr) return KS_E_CHANNEL;
      // The page asked for it, so the cell does not announce the switch back.
      const int result = cell->switchStream(CommandTranslation::streamCode(param.switchStream.newStream), false);
      const std::u16string name = caption(param.switchStream.channelName, 0);
      if (result == KS_OK && !name.empty() && !session_->multilens()) cell->setTitle(name.c_str());
      return result;
    }
    case LIVE_BITRATE: {
      if (!loggedIn()) return KS_E_CHANNEL;
      CPreviewer* cell = liveCell();
      if (cell == nullptr) return KS_E_CHANNEL;
      // Rates beyond int reach a cell as the largest rate, not as negatives.
      auto rate = [](uint32_t kbps) { return static_cast<int>(kbps > 0x7FFFFFFFu ? 0x7FFFFFFFu : kbps); };
      return cell->setBitrates(rate(param.bitrate.kbpsMain), rate(param.bitrate.kbpsSub),
                               rate(param.bitrate.kbpsThird));
    }
    case LIVE_SHOW_DOCK:
      return liveShowDock(param);
    case LIVE_MOVE_DOCK: {
      bool keepSize = false;
      if (window && !session_->multilens()) {
        CPreviewer* settings = dock->findCell(0, true);
        keepSize = settings != nullptr && (ui::getWindowStyle(settings->hwnd()) & ui::WS_VISIBLE) != 0;
      }
      moveLiveDock(param.moveDock.x, param.moveDock.y, param.moveDock.w, param.moveDock.h, keepSize);
      return KS_OK;
    }
    case LIVE_SPLIT:
      // Types that are not layouts are refused by the dock, which keeps its layout.
      if (window) dock->setLayout(param.split.Count);
      return KS_OK;
    default:
      return KS_OK;
  }
}

int DeviceEntry::livePreview(LiveControlParam& param) {
  LivePreviewBody& preview = param.preview;
  if (preview.openMode == OPEN_MODE_CLOSE_ALL && !loggedIn()) return KS_OK;
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr || !dock->hasWindow()) {
    // The shell creates the dock on its user-interface thread and asks again.
    return previewTitle(preview).empty() ? KS_E_INVALID : KS_E_CREATE_DOCK;
  }
  const bool opening = preview.openMode == OPEN_MODE_OPEN_ALL || (preview.openMode == OPEN_MODE_CHANNEL && preview.open != 0);
  if (!loggedIn()) {
    const int result = session_->login();
    if (result != KS_OK) return result;
  }
  const int stream = opening ? CommandTranslation::streamCode(preview.streamType) : 1;

  if (param.settings == 0) {
    if (opening) placeLiveDock(preview);
    const bool all = preview.openMode != OPEN_MODE_CHANNEL;
    const int first = all ? 0 : param.channel;
    const int last = all ? session_->channelCount() - 1 : param.channel;
    int result = KS_OK;
    for (int channel = first; channel <= last; ++channel) {
      CPreviewer* cell = dock->findCell(channel, false);
      if (cell == nullptr) {
        result = KS_E_CHANNEL;
        continue;
      }
      if (opening && preview.channelName != nullptr) {
        // A slot without text leaves the caption as it is.
        const std::u16string name = caption(preview.channelName, all ? channel : 0);
        if (!name.empty()) cell->setTitle(name.c_str());
      }
      if (session_->multilens()) cell->setChannel(param.channel);
      result = cell->open(stream, opening);
    }
    return result;
  }

  // The settings view: one cell over the whole dock instead of the layout.
  if (opening) {
    placeLiveDock(preview);
    showLayoutCells(false);
  }
  if (dock->hasWindow()) {
    showLayoutCells(false);
    showLiveDock();
    if (CPreviewer* settings = dock->findCell(0, true)) ui::showWindow(settings->hwnd(), ui::SW_SHOWNA);
  }
  CPreviewer* settings = dock->findCell(0, true);
  if (settings == nullptr) return KS_E_CHANNEL;
  if (opening) settings->setChannel(param.channel);
  return settings->open(stream, opening);
}

int DeviceEntry::liveShowDock(const LiveControlParam& param) {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr) return KS_E_NOT_READY;
  const uint32_t mode = param.showDock.showMode;
  const bool window = dock->hasWindow();
  if (mode < 1 || mode > 6) return KS_OK;
  if ((mode == 2 || mode == 4) && !window) return KS_OK;
  switch (mode) {
    case 1:
    case 2:
      if (CPreviewer* cell = window ? dock->findCell(param.channel, param.settings != 0) : nullptr) {
        ui::showWindow(cell->hwnd(), mode == 1 ? ui::SW_SHOWNA : ui::SW_HIDE);
      }
      break;
    case 3:
      showLiveDock();
      break;
    case 4:
      dock->hide();
      break;
    case 5:
      showLayoutCells(false);
      showLiveDock();
      if (CPreviewer* settings = dock->findCell(0, true)) ui::showWindow(settings->hwnd(), ui::SW_SHOWNA);
      break;
    case 6: {
      const bool single = callOnWindowThread(dock->window(), false, [dock] { return dock->singleCellView(); });
      if (!single) showLayoutCells(true);
      showLiveDock();
      if (CPreviewer* settings = dock->findCell(0, true)) ui::showWindow(settings->hwnd(), ui::SW_HIDE);
      break;
    }
    default:
      break;
  }
  return KS_OK;
}

void DeviceEntry::showLayoutCells(bool show) {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr || !dock->hasWindow()) return;
  const int count = CPreviewManager::cellCount(dock->layout());
  for (int channel = 0; channel < count; ++channel) {
    if (CPreviewer* cell = dock->findCell(channel, false)) ui::showWindow(cell->hwnd(), show ? ui::SW_SHOWNA : ui::SW_HIDE);
  }
}

void DeviceEntry::showLiveDock() {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr) return;
  dock->setShown(true);
  if (const ui::HWND window = dock->window()) ui::showWindow(window, ui::SW_SHOWNA);
}

void DeviceEntry::placeLiveDock(const LivePreviewBody& preview) {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr || !dock->hasWindow()) return;
  uint16_t port = 0;
  DockAnchor anchor;
  BrowserWindows found;
  ui::Rect rect;
  if (clientPortOf(preview, port) &&
      DockPlacement::prepareDock(previewTitle(preview), port, preview.adjustPos != 0, preview.x, preview.y, preview.w,
                                 preview.h, anchor, found, rect) == KS_OK) {
    {
      std::lock_guard lock(anchorLock_);
      liveAnchor_ = anchor;
    }
    if (found.top != dock->ownerWindow()) {
      dock->setOwnerWindow(found.top);
      DockPlacement::attachToOwner(dock->window(), found.top);
    }
    ui::setWindowPos(dock->window(), 0, rect.left, rect.top, rect.width(), rect.height(),
                     ui::SWP_NOACTIVATE | ui::SWP_NOZORDER | ui::SWP_NOSENDCHANGING);
  }
  // Without its browser the dock stays where it is; it is shown all the same.
  showLiveDock();
}

int DeviceEntry::moveLiveDock(int x, int y, int w, int h, bool keepSize) {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr || !dock->hasWindow()) return KS_E_CHANNEL;
  // The move waits for the dock's thread, so it works on a copy of the
  // anchor; only the new offsets go back, and only while the anchor still
  // follows the same window.
  DockAnchor anchor = liveAnchor();
  const int result = DockPlacement::moveDock(anchor, dock->window(), x, y, w, h, keepSize, DockKind::kLive);
  if (result == KS_OK) {
    std::lock_guard lock(anchorLock_);
    if (liveAnchor_.browserWindow == anchor.browserWindow) {
      liveAnchor_.offsetX = anchor.offsetX;
      liveAnchor_.offsetY = anchor.offsetY;
    }
  }
  return result;
}

int DeviceEntry::createLiveDock(const LiveControlParam& param) {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr) return KS_E_NOT_READY;
  // A second creation (two commands raced to ask for it) finds it made.
  if (dock->hasWindow()) return KS_OK;
  const LivePreviewBody& preview = param.preview;
  uint16_t port = 0;
  if (!clientPortOf(preview, port)) return KS_E_CHANNEL;
  DockAnchor anchor;
  BrowserWindows found;
  ui::Rect rect;
  const int result = DockPlacement::prepareDock(previewTitle(preview), port, preview.adjustPos != 0, preview.x,
                                                preview.y, preview.w, preview.h, anchor, found, rect);
  if (result != KS_OK) return result;
  if (preview.layout != 0) dock->setInitialLayout(static_cast<int>(preview.layout));
  const ui::HWND window = dock->createDock(ui::getDesktopWindow(), rect);
  if (window == 0) return KS_E_WINDOW;
  dock->setFont(static_cast<ui::HFONT>(preview.font), true);
  dock->setOwnerWindow(found.top);
  dock->setDocked(true);
  DockPlacement::showOverOwner(window, found.top);
  std::lock_guard lock(anchorLock_);
  liveAnchor_ = anchor;
  return KS_OK;
}

// ---- the other commands ---------------------------------------------------------

int DeviceEntry::playbackControl(PlaybackControlParam& param) {
  if (!session_) return KS_E_NOT_READY;
  if (param.channel < 0 || param.channel >= session_->channelCount()) return KS_E_CHANNEL;
  CPlaybackManager* dock = playbackDock_.get();
  switch (param.type) {
    case PLAYBACK_FULLSCREEN:
    case PLAYBACK_ASPECT_RATIO:
      return KS_E_UNAVAILABLE;
    case PLAYBACK_SHOW_DOCK: {
      if (dock == nullptr) return KS_E_NOT_READY;
      const uint32_t mode = param.showDock.showMode;
      if (mode < 1 || mode > 4 || ((mode == 2 || mode == 4) && !dock->hasWindow())) return KS_OK;
      if (mode == 3 || mode == 4) {
        dock->setShown(mode == 3);
        if (const ui::HWND window = dock->window()) ui::showWindow(window, mode == 3 ? ui::SW_SHOWNA : ui::SW_HIDE);
      }
      // Modes 1 and 2 act on the player cell, which comes with the playback work.
      return KS_OK;
    }
    case PLAYBACK_MOVE_DOCK:
      movePlaybackDock(param.moveDock.x, param.moveDock.y, param.moveDock.w, param.moveDock.h);
      return KS_OK;  // also when the dock or its browser is missing
    default:
      // Preview, speed, audio and positions need the recorded stream, which
      // the playback work brings.
      return KS_E_NOT_READY;
  }
}

int DeviceEntry::movePlaybackDock(int x, int y, int w, int h) {
  CPlaybackManager* dock = playbackDock_.get();
  if (dock == nullptr || !dock->hasWindow()) return KS_E_CHANNEL;
  DockAnchor anchor = playbackAnchor();
  const int result = DockPlacement::moveDock(anchor, dock->window(), x, y, w, h, false, DockKind::kPlayback);
  if (result == KS_OK) {
    std::lock_guard lock(anchorLock_);
    if (playbackAnchor_.browserWindow == anchor.browserWindow) {
      playbackAnchor_.offsetX = anchor.offsetX;
      playbackAnchor_.offsetY = anchor.offsetY;
    }
  }
  return result;
}

int DeviceEntry::snapshot(SnapshotParam& param) {
  if (!session_) return KS_E_NOT_READY;
  if (param.live != 0 && !loggedIn()) return KS_E_NOT_READY;
  if (param.channel < 0 || param.channel >= session_->channelCount()) return KS_E_CHANNEL;
  // Playback cells come with the playback dock window, which does not exist
  // yet: a picture from playback finds no cell.
  CPreviewManager* dock = liveDock_.get();
  CPreviewer* cell = param.live != 0 && dock != nullptr && dock->hasWindow() ? dock->findCell(param.channel, false)
                                                                              : nullptr;
  if (cell == nullptr) return KS_E_CHANNEL;
  return cell->snapshot(param.live != 0, param.format, param.path);
}

int DeviceEntry::streamRecord(StreamRecordParam&) { return KS_E_NOT_READY; }

int DeviceEntry::downloadControl(DownloadControlParam&) { return KS_E_NOT_READY; }

int DeviceEntry::settings(DeviceSettingsParam&, int) {
  CPreviewManager* dock = liveDock_.get();
  if (dock == nullptr) return KS_E_NOT_READY;
  if (!dock->hasWindow() || dock->findCell(0, true) == nullptr) return KS_E_WINDOW;
  // The settings cell has no overlays to hand the record to yet.
  return KS_E_UNAVAILABLE;
}

int DeviceEntry::createDock(int dockType, void* param) {
  if (param == nullptr) return KS_E_INVALID;
  if (dockType == 1) return createLiveDock(*static_cast<const LiveControlParam*>(param));
  if (dockType == 2) return createPlaybackDock(*static_cast<const PlaybackControlParam*>(param));
  return KS_OK;
}

int DeviceEntry::createPlaybackDock(const PlaybackControlParam& param) {
  CPlaybackManager* dock = playbackDock_.get();
  if (dock == nullptr) return KS_E_NOT_READY;
  if (dock->hasWindow()) return KS_OK;
  const PlaybackPreviewBody& preview = param.preview;
  // Any failure to find the browser answers one code for the playback dock.
  uint16_t port = 0;
  if (!clientPortOf(preview, port)) return KS_E_NO_BROWSER;
  DockAnchor anchor;
  BrowserWindows found;
  ui::Rect rect;
  if (DockPlacement::prepareDock(previewTitle(preview), port, preview.adjustPos != 0, preview.x, preview.y, preview.w,
                                 preview.h, anchor, found, rect) != KS_OK) {
    return KS_E_NO_BROWSER;
  }
  const ui::HWND window = dock->createDock(ui::getDesktopWindow(), rect);
  if (window == 0) return KS_E_WINDOW;
  ui::sendMessage(window, ui::WM_SETFONT, static_cast<ui::WPARAM>(preview.font), 1);
  dock->setOwnerWindow(found.top);
  DockPlacement::showOverOwner(window, found.top);
  std::lock_guard lock(anchorLock_);
  playbackAnchor_ = anchor;
  return KS_OK;
}

void DeviceEntry::trackPlaybackDock() {
  CPlaybackManager* dock = playbackDock_.get();
  if (dock == nullptr) return;
  const ui::HWND window = dock->window();
  if (window == 0 || !dock->shown()) return;
  ui::HWND owner = dock->ownerWindow();
  DockAnchor anchor = playbackAnchor();
  if (anchor.browserWindow == 0) return;
  const ui::HWND followed = anchor.browserWindow;
  DockPlacement::track(anchor, window, owner, DockKind::kPlayback);
  if (anchor.browserWindow != followed) {
    std::lock_guard lock(anchorLock_);
    if (playbackAnchor_.browserWindow == followed) {
      playbackAnchor_.browserWindow = anchor.browserWindow;
      playbackAnchor_.title = anchor.title;
    }
  }
  if (owner != dock->ownerWindow()) dock->setOwnerWindow(owner);
}

}  // namespace ksplugs
