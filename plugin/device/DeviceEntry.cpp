#include "plugin/device/DeviceEntry.h"

#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"
#include "plugin/device/CommandTranslation.h"
#include "plugin/device/DockPlacement.h"
#include "plugin/session/StreamKind.h"
#include "plugin/video/live/CPreviewer.h"

namespace ksplugs {

namespace {

// The title buffer of a preview holds 260 units with its terminator.
constexpr size_t kTitleUnits = 260;
// Captions are bounded like every text that comes from the page; the
// caption array has 64 slots.
constexpr size_t kCaptionUnits = 260;
constexpr int kCaptionSlots = 64;
// The path buffers of the download and recording records, terminator included.
constexpr size_t kPathBytes = 260;
constexpr size_t kRecordPathBytes = kPathBytes;

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

// What a preview record asks of its dock.
template <typename PreviewBody>
DockRequest dockRequest(const PreviewBody& preview, int layout) {
  DockRequest request;
  request.title = previewTitle(preview);
  request.clientPort = preview.clientPort;
  request.adjustPosition = preview.adjustPos != 0;
  request.x = preview.x;
  request.y = preview.y;
  request.w = preview.w;
  request.h = preview.h;
  request.font = static_cast<ui::HFONT>(preview.font);
  request.layout = layout;
  return request;
}

// The page rectangle of a preview record, checked against the desktop.
template <typename PreviewBody>
int checkPreviewRect(const PreviewBody& preview) {
  return DockPlacement::checkPageRect(preview.x, preview.y, preview.w, preview.h);
}

// Rates beyond int reach a cell as the largest rate, not as negatives.
int rate(uint32_t kbps) { return static_cast<int>(kbps > 0x7FFFFFFFu ? 0x7FFFFFFFu : kbps); }

}  // namespace

DeviceEntry::DeviceEntry(std::shared_ptr<const VideoServices> services)
    : services_(services ? std::move(services) : std::make_shared<const VideoServices>()) {}

DeviceEntry::~DeviceEntry() = default;

int DeviceEntry::initialise(uint32_t id, DeviceCreateParam& record) {
  if (uniqueId_ != 0) return KS_OK;
  try {
    auto session = std::make_unique<WebPlug_NCL::CDVSDevice>();
    auto live = std::make_unique<CPreviewManager>(services_);
    auto playback = std::make_unique<CPlaybackManager>(services_);
    CPreviewManager* liveDock = live.get();
    CPlaybackManager* playbackDock = playback.get();
    auto liveHost = std::make_unique<DockHost>(DockKind::kLive, std::move(live));
    auto playbackHost = std::make_unique<DockHost>(DockKind::kPlayback, std::move(playback));
    // Everything that can fail is allocated before the record is touched, so
    // a failure leaves the caller's stream block with the caller.
    record.uniqueId = id;
    session->copyFrom(record);
    uniqueId_ = id;
    session_ = std::move(session);
    live_ = std::move(liveHost);
    playback_ = std::move(playbackHost);
    liveDock_ = liveDock;
    playbackDock_ = playbackDock;
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
  for (DockHost* host : {live_.get(), playback_.get()}) {
    if (host != nullptr && host->hasWindow()) host->dock()->hide();
  }
  return first;
}

void DeviceEntry::silence() {
  if (!loggedIn()) return;
  if (liveWindow()) liveDock_->muteAll(session_->channelCount());
  if (playbackWindow()) {
    if (CPreviewer* player = playbackDock_->player()) {
      const int channel = player->playbackChannel();
      if (channel != -1) player->playbackMute(channel, true);
    }
  }
  session_->talkStop();
}

bool DeviceEntry::leaveFullScreen() {
  if (!liveWindow() || !liveDock_->isFullScreen()) return false;
  liveDock_->setLayout(0);
  return true;
}

void DeviceEntry::trackDocks() {
  if (closing()) return;
  if (live_) live_->track();
  if (playback_) playback_->track();
}

void DeviceEntry::teardown() {
  // Streams outlive a logout, so the live cells close theirs before it; the
  // dock windows themselves close later on their own thread.
  if (session_ && liveWindow()) {
    // Cells may be connecting (and logging in) even without a login yet.
    liveDock_->closeAllStreams(session_->channelCount());
  }
  // No command thread holds the device any more, so no start is half-way;
  // a running download is interrupted and its worker ends.
  downloadTask_.shutdown();
  if (session_) session_->talkStop();
  if (playback_ && playback_->hasWindow()) playbackDock_->releasePlayer();
  if (session_) session_->logout();
  liveDock_ = nullptr;
  playbackDock_ = nullptr;
  if (live_) live_->close();
  if (playback_) playback_->close();
}

// ---- live view --------------------------------------------------------------

int DeviceEntry::liveControl(LiveControlParam& param) {
  if (!session_) return KS_E_NOT_READY;
  const int channels = session_->channelCount();
  if (param.channel < 0 || param.channel >= channels) return KS_E_INVALID;
  const bool window = liveWindow();
  const int channel = param.channel;

  switch (param.type) {
    case LIVE_PREVIEW:
      return livePreview(param);
    case LIVE_AUDIO:
      if (!loggedIn()) return KS_E_NOT_READY;
      return window ? liveDock_->setMute(channel, param.audio.mute != 0) : KS_E_CHANNEL;
    case LIVE_TALK:
      if (!loggedIn()) return KS_E_NOT_READY;
      if (param.talk.open == 0) return session_->talkStop();
      return session_->talkStart(CommandTranslation::talkCodec(param.talk.codec));
    case LIVE_DIGITAL_ZOOM:
      if (!loggedIn() || !window) return KS_E_CHANNEL;
      return liveDock_->setZoom(channel, param.digitalZoom.open != 0);
    case LIVE_FULLSCREEN:
      // A toggle: the page's "enter" is not consulted.
      if (window) live_->placeBy([this] { liveDock_->setLayout(0); });
      return KS_OK;
    case LIVE_ASPECT_RATIO:
      if (!loggedIn() || !window) return KS_E_CHANNEL;
      return liveDock_->setKeepAspect(channel, param.aspectRatio.ratio != 0);
    case LIVE_SWITCH_STREAM:
      if (!window || !loggedIn()) return KS_E_NOT_READY;
      return liveDock_->switchStream(channel, StreamKind::deviceFromPage(param.switchStream.newStream),
                                     caption(param.switchStream.channelName, 0));
    case LIVE_BITRATE:
      if (!loggedIn() || !window) return KS_E_CHANNEL;
      return liveDock_->setBitrates(channel, rate(param.bitrate.kbpsMain), rate(param.bitrate.kbpsSub),
                                    rate(param.bitrate.kbpsThird));
    case LIVE_SHOW_DOCK:
      return liveShowDock(param);
    case LIVE_MOVE_DOCK: {
      const DockRectBody& move = param.moveDock;
      if (const int result = DockPlacement::checkPageRect(move.x, move.y, move.w, move.h); result != KS_OK) {
        return result;
      }
      // While the settings view is up, a move keeps the dock's size.
      const bool keepSize = window && !session_->multilens() && liveDock_->settingsViewShown();
      if (live_) live_->move(param.moveDock.x, param.moveDock.y, param.moveDock.w, param.moveDock.h, keepSize);
      return KS_OK;
    }
    case LIVE_SPLIT:
      // Types that are not layouts are refused by the dock, which keeps its layout.
      if (window) liveDock_->setLayout(param.split.Count);
      return KS_OK;
    default:
      return KS_OK;
  }
}

int DeviceEntry::livePreview(LiveControlParam& param) {
  LivePreviewBody& preview = param.preview;
  if (const int result = checkPreviewRect(preview); result != KS_OK) return result;
  if (preview.openMode == OPEN_MODE_CLOSE_ALL && !loggedIn()) return KS_OK;
  if (!liveWindow()) {
    // The shell creates the dock on its user-interface thread and asks again.
    return previewTitle(preview).empty() ? KS_E_INVALID : KS_E_CREATE_DOCK;
  }
  const bool opening =
      preview.openMode == OPEN_MODE_OPEN_ALL || (preview.openMode == OPEN_MODE_CHANNEL && preview.open != 0);
  // Opening cells log in themselves, away from the window's thread and
  // while they show that they are connecting; a failed login is their answer.
  if (!opening && !loggedIn()) {
    const int result = session_->login();
    if (result != KS_OK) return result;
  }
  const int stream = opening ? StreamKind::deviceFromPage(preview.streamType) : StreamKind::kDeviceMain;
  if (opening) live_->place(dockRequest(preview, 0));

  if (param.settings == 0) {
    const bool all = preview.openMode != OPEN_MODE_CHANNEL;
    const int first = all ? 0 : param.channel;
    const int last = all ? session_->channelCount() - 1 : param.channel;
    std::vector<CPreviewManager::ChannelOpen> channels;
    for (int channel = first; channel <= last; ++channel) {
      // A slot without text leaves the caption as it is.
      channels.push_back({channel, opening ? caption(preview.channelName, all ? channel : 0) : std::u16string()});
    }
    // The answer is the last channel's, as when they were opened one by one.
    return liveDock_->openChannels(channels, stream, opening, param.channel);
  }

  // The settings view: one cell over the whole dock instead of the layout.
  liveDock_->showSettingsView();
  return liveDock_->openSettings(param.channel, stream, opening);
}

int DeviceEntry::liveShowDock(const LiveControlParam& param) {
  if (liveDock_ == nullptr) return KS_E_NOT_READY;
  const uint32_t mode = param.showDock.showMode;
  const bool window = liveWindow();
  if (mode < 1 || mode > 6) return KS_OK;
  if ((mode == 2 || mode == 4) && !window) return KS_OK;
  switch (mode) {
    case 1:
    case 2:
      if (window) liveDock_->showCell(param.channel, param.settings != 0, mode == 1);
      break;
    case 3:
      liveDock_->show();
      break;
    case 4:
      liveDock_->hide();
      break;
    case 5:
      liveDock_->showSettingsView();
      break;
    case 6:
      liveDock_->showLayoutView();
      break;
    default:
      break;
  }
  return KS_OK;
}

// ---- the other commands ---------------------------------------------------------

int DeviceEntry::playbackControl(PlaybackControlParam& param) {
  if (!session_) return KS_E_NOT_READY;
  if (param.channel < 0 || param.channel >= session_->channelCount()) return KS_E_CHANNEL;
  switch (param.type) {
    case PLAYBACK_FULLSCREEN:
    case PLAYBACK_ASPECT_RATIO:
      return KS_E_UNAVAILABLE;
    case PLAYBACK_SHOW_DOCK: {
      if (playbackDock_ == nullptr) return KS_E_NOT_READY;
      const uint32_t mode = param.showDock.showMode;
      if (mode < 1 || mode > 4 || ((mode == 2 || mode == 4) && !playback_->hasWindow())) return KS_OK;
      if (mode == 3) playbackDock_->show();
      if (mode == 4) playbackDock_->hide();
      if ((mode == 1 || mode == 2) && playback_->hasWindow()) playbackDock_->showPlayer(mode == 1);
      return KS_OK;
    }
    case PLAYBACK_MOVE_DOCK:
      if (const int result =
              DockPlacement::checkPageRect(param.moveDock.x, param.moveDock.y, param.moveDock.w, param.moveDock.h);
          result != KS_OK) {
        return result;
      }
      if (playback_) playback_->move(param.moveDock.x, param.moveDock.y, param.moveDock.w, param.moveDock.h, false);
      return KS_OK;  // also when the dock or its browser is missing
    case PLAYBACK_PREVIEW:
      return playbackPreview(param);
    default:
      break;
  }
  // The rest act on the player only while it plays the named channel; the
  // cell checks that again on its own thread, where the stream lives.
  CPreviewer* player = playbackWindow() ? playbackDock_->player() : nullptr;
  if (player == nullptr) return KS_E_INVALID;
  const int channel = param.channel;
  switch (param.type) {
    case PLAYBACK_SPEED:
      return player->playbackSpeed(channel, param.speed.fast != 0, param.speed.revertToNormal != 0);
    case PLAYBACK_AUDIO:
      return player->playbackMute(channel, param.audio.mute != 0);
    case PLAYBACK_POSITION:
      return player->playbackSeek(channel, param.position.newPos);
    case PLAYBACK_POSITION_QUERY:
      return player->playbackPosition(channel, param.position.newPos, param.position.progress);
    default:
      return KS_OK;
  }
}

int DeviceEntry::playbackPreview(PlaybackControlParam& param) {
  PlaybackPreviewBody& preview = param.preview;
  if (const int result = checkPreviewRect(preview); result != KS_OK) return result;
  const int play = preview.play;
  if (!playbackWindow()) {
    if (play == 3) return KS_OK;
    if (play != 1) return KS_E_NOT_READY;
    // The shell creates the dock on its user-interface thread and asks again.
    return previewTitle(preview).empty() ? KS_E_INVALID : KS_E_CREATE_DOCK;
  }
  if (preview.remote != 0 && !loggedIn()) {
    const int result = session_->login();
    if (result != KS_OK) return result;
  }
  CPreviewer* player = playbackDock_->player();
  if (player == nullptr) return KS_E_WINDOW;
  if (play != 1) {
    // Pause, stop and steps reach a running playback of this channel only;
    // the player's channel is never changed by them.
    return player->playbackOperate(param.channel, play);
  }
  // Another channel while one plays answers 1012, the same channel returns
  // to the normal rate; both are decided by the cell on its own thread.
  if (player->playbackChannel() == -1) playback_->place(dockRequest(preview, 0));
  return player->playbackOpen(param.channel, preview.remote != 0, preview.streamType == 1,
                              static_cast<int>(CommandTranslation::recordTypeMask(preview.recordType)),
                              preview.playPos);
}

int DeviceEntry::snapshot(SnapshotParam& param) {
  if (!session_) return KS_E_NOT_READY;
  if (param.live != 0 && !loggedIn()) return KS_E_NOT_READY;
  if (param.channel < 0 || param.channel >= session_->channelCount()) return KS_E_CHANNEL;
  if (param.live == 0) {
    // The player, while it plays this channel.
    CPreviewer* cell = playbackWindow() ? playbackDock_->findOpenCell(param.channel) : nullptr;
    if (cell == nullptr) return KS_E_CHANNEL;
    return cell->snapshot(false, param.format, param.path);
  }
  if (!liveWindow()) return KS_E_CHANNEL;
  return liveDock_->snapshot(param.channel, true, param.format, param.path);
}

int DeviceEntry::streamRecord(StreamRecordParam& param) {
  if (!session_) return KS_E_NOT_READY;
  if (!loggedIn()) return KS_E_NOT_READY;
  if (param.channel < 0 || param.channel >= session_->channelCount()) return KS_E_CHANNEL;
  // A device logged in for a download has no live-view dock, so no cell
  // that could record.
  if (!liveWindow()) return KS_E_CHANNEL;
  std::string path;
  const int result = liveDock_->setRecording(param.channel, param.start != 0, &path);
  if (param.path != nullptr) {
    // Our own paths fit the buffer; one that would not is answered empty
    // rather than cut to another.
    if (result != KS_OK || path.size() >= kRecordPathBytes) path.clear();
    sys::copyUtf8Bounded(param.path, kRecordPathBytes, path);
  }
  return result;
}

int DeviceEntry::downloadControl(DownloadControlParam& param) {
  if (!session_) return KS_E_NOT_READY;
  switch (param.operate) {
    case 1:
      return downloadStart(param);
    case 2: {
      uint32_t progress = 0;
      const int result = downloadTask_.progress(&progress);
      if (result == KS_OK) param.progress = progress;
      return result;
    }
    case 3:
      return downloadTask_.interrupt();
    default:
      return KS_OK;
  }
}

int DeviceEntry::downloadStart(DownloadControlParam& param) {
  if (param.remote == 0) return KS_E_UNAVAILABLE;
  if (param.channel < 0 || param.channel >= session_->channelCount()) return KS_E_CHANNEL;
  // The page's path must fit its buffer with its terminator; a longer one
  // is refused rather than cut to another name.
  std::string path;
  if (param.path != nullptr) {
    const size_t length = strnlen(param.path, kPathBytes);
    if (length == kPathBytes) return KS_E_INVALID;
    path.assign(param.path, length);
  }
  // The claim is the busy check: it holds through the dialog and the login,
  // and every way out before the start gives it back.
  DownloadRequest request;
  request.format = CommandTranslation::downloadFormat(param.format);
  const bool mp4 = request.format == 1;
  // Not worth asking the user for a file this build cannot write.
  if (!downloadTask_.supports(request.format)) return KS_E_NOT_SUPPORTED;
  if (!downloadTask_.claim()) return KS_E_BUSY;
  if (path.empty()) {
    ui::SaveDialogRequest dialog;
    dialog.owner = dialogOwner();
    dialog.filter = mp4 ? "mp4 (*.mp4)|*.mp4" : "prv (*.prv)|*.prv";
    dialog.defaultExtension = mp4 ? "mp4" : "prv";
    const std::optional<std::string> chosen = ui::showSaveFileDialog(dialog);
    if (!chosen || chosen->empty()) {
      downloadTask_.release();
      return KS_E_CANCELLED;
    }
    path = *chosen;
    request.chosenByUser = true;
  }
  const bool freshLogin = !loggedIn();
  if (freshLogin) {
    if (const int result = session_->login(); result != KS_OK) {
      downloadTask_.release();
      return result;
    }
  }
  request.taskId = nextDownloadTaskId();
  param.taskId = static_cast<uint32_t>(request.taskId);
  request.mainStream = param.mainStream != 0;
  request.channel = param.channel;
  request.path = std::move(path);
  request.startTime = param.startTime;
  request.endTime = param.endTime;
  request.startSeconds = param.startSeconds;
  request.endSeconds = param.endSeconds;
  const int result = downloadTask_.start(request);
  if (result != KS_E_CONNECT || freshLogin) return result;
  // The login's connection is gone (the device restarted or the network
  // dropped): log in afresh and try once more, so that the page's next
  // attempt is not refused for as long as the old login is kept.
  session_->logout();
  if (!downloadTask_.claim()) return result;
  if (session_->login() != KS_OK) {
    downloadTask_.release();
    return result;
  }
  return downloadTask_.start(request);
}

ui::HWND DeviceEntry::dialogOwner() const {
  // The window that owns the live-view dock, else the one that owns the
  // playback dock, else none.
  for (const DockHost* host : {live_.get(), playback_.get()}) {
    if (host != nullptr && host->hasWindow()) return ui::getWindowOwner(host->dock()->window());
  }
  return 0;
}

int DeviceEntry::settings(DeviceSettingsParam& param, int) {
  if (liveDock_ == nullptr) return KS_E_NOT_READY;
  if (!liveWindow()) return KS_E_WINDOW;
  return liveDock_->settingsRecord(param);
}

int DeviceEntry::createDock(int dockType, void* param) {
  if (param == nullptr) return KS_E_INVALID;
  if (dockType == 1) {
    if (!live_) return KS_E_NOT_READY;
    const LivePreviewBody& preview = static_cast<const LiveControlParam*>(param)->preview;
    if (const int result = checkPreviewRect(preview); result != KS_OK) return result;
    return live_->create(dockRequest(preview, static_cast<int>(preview.layout)));
  }
  if (dockType == 2) {
    if (!playback_) return KS_E_NOT_READY;
    const PlaybackPreviewBody& preview = static_cast<const PlaybackControlParam*>(param)->preview;
    if (const int result = checkPreviewRect(preview); result != KS_OK) return result;
    return playback_->create(dockRequest(preview, 0));
  }
  return KS_OK;
}

}  // namespace ksplugs
