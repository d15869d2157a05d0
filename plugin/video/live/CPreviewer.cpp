#include "plugin/video/live/CPreviewer.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/sys/Utf.h"
#include "platform/ui/DeviceContext.h"
#include "platform/ui/Menu.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowApi.h"
#include "plugin/api/SdkResult.h"
#include "plugin/files/ConfigFile.h"
#include "plugin/files/DownloadUrl.h"
#include "plugin/files/SnapshotPath.h"
#include "plugin/files/WorkFolders.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/video/RecordingSink.h"
#include "plugin/video/VideoMessages.h"
#include "plugin/video/WindowTask.h"
#include "plugin/video/live/BitrateTimer.h"

namespace ksplugs {

namespace {

using WebPlug_NCL::CDVSDevice;

constexpr uint32_t kChildVisible = ui::WS_CHILD | ui::WS_VISIBLE;
// A recording runs at most this long when the configuration names no limit.
constexpr int kDefaultRecordSeconds = 900;

}  // namespace

CPreviewer::CPreviewer(int channel, bool settings, std::shared_ptr<const VideoServices> services)
    : services_(services ? std::move(services) : std::make_shared<const VideoServices>()),
      settings_(settings),
      channel_(channel) {
  setNoClassBackground();
}

CPreviewer::~CPreviewer() {
  // The window is gone (or never was); closing here covers a cell whose
  // window could not be made.
  if (stream_) stream_->close();
}

int CPreviewer::onWindowThread(int fallback, const std::function<int()>& work) {
  return answerOnWindowThread(hwnd(), fallback, work);
}

ui::HWND CPreviewer::createCell(ui::HWND parent, bool visible) {
  return create(parent, ui::Rect{}, std::string_view("CPreviewer"), visible ? kChildVisible : ui::WS_CHILD, 0,
                "CPreviewer");
}

void CPreviewer::setDevice(CDVSDevice* device) {
  device_ = device;
  stream_ = std::make_unique<LiveStream>(device, channel_, services_->recording);
  // Runs on the SDK's thread while the stream is open, so the cell is alive;
  // the task itself is dropped if the window is gone by then.
  stream_->setBrokenNotice([this] { ui::postTask(hwnd(), [this] { onStreamBroken(); }); });
}

void CPreviewer::setChannel(int channel) {
  auto apply = [&] {
    channel_ = channel;
    // An open stream keeps its channel until it is opened again.
    if (stream_ && !stream_->isOpen()) stream_->setChannel(channel);
    return 0;
  };
  if (hwnd() == 0) {
    apply();
  } else {
    onWindowThread(0, apply);
  }
}

// ---- messages ----------------------------------------------------------

ui::LRESULT CPreviewer::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  switch (msg) {
    case ui::WM_CREATE:
      return onCreate();
    case ui::WM_DESTROY:
      onDestroy();
      return 0;
    case ui::WM_MOVE:
      // A paused recorded picture is drawn again where the cell now is.
      if (recorded_) recorded_->refresh();
      return 0;
    case ui::WM_SIZE:
      onSize();
      return 0;
    case ui::WM_PAINT:
      onPaint();
      return 0;
    case ui::WM_ERASEBKGND:
      return 1;
    case ui::WM_SHOWWINDOW:
      if (wParam == 0) ui::clipCursor(nullptr);
      return 0;
    case ui::WM_SETCURSOR:
      return settings_ ? 1 : 0;
    case ui::WM_CONTEXTMENU:
      onContextMenu();
      return 0;
    case ui::WM_KEYUP:
      ui::postMessage(ui::getParent(hwnd()), msg, wParam, lParam);
      return 0;
    case ui::WM_COMMAND:
      onCommand(ui::LOWORD(wParam));
      return 0;
    case ui::WM_TIMER:
      if (wParam == BitrateTimer::kId) onTimer();
      if (wParam == kSilenceTimerId && phase_ == Phase::kLive && isOpen() && stream_->silentMs() > kSilenceLimitMs) {
        stream_->markBroken();
        onStreamBroken();
      }
      if (wParam == kReconnectTimerId) {
        ui::killTimer(hwnd(), kReconnectTimerId);
        if (phase_ == Phase::kReconnecting && stream_ && !stream_->connecting()) startAttempt(streamType_, false);
      }
      return 0;
    case ui::WM_CTLCOLORSTATIC: {
      auto* dc = reinterpret_cast<ui::DeviceContext*>(wParam);
      const auto label = static_cast<ui::HWND>(lParam);
      if (dc != nullptr && (label == titleLabel_.hwnd() || label == bitrateLabel_.hwnd())) {
        dc->setTextColor(ui::RGB(255, 255, 255));
        dc->setBkMode(ui::TRANSPARENT);
      }
      return static_cast<ui::LRESULT>(ui::createSolidBrush(kBackground));
    }
    case ui::WM_MOUSEMOVE:
      onMouseMove(lParam);
      return 0;
    case ui::WM_LBUTTONDOWN:
      onLeftDown(lParam);
      return 0;
    case ui::WM_LBUTTONUP:
      onLeftUp(lParam);
      return 0;
    case MsgCellDoubleClick:
      // In the settings view a quick second press is still a press: an editor
      // must see it, or a second drag started at once would be lost.
      if (settings_) {
        onLeftDown(lParam);
      } else {
        ui::sendMessage(ui::getParent(hwnd()), MsgCellDoubleClick, reinterpret_cast<ui::WPARAM>(this));
      }
      return 0;
    case MsgFileReady:
      onFileReady(static_cast<int>(wParam), reinterpret_cast<char16_t*>(lParam));
      return 0;
    case MsgVideoSizeChanged:
      onVideoSizeChanged();
      return 0;
    default:
      return defaultHandle(msg, wParam, lParam);
  }
}

ui::LRESULT CPreviewer::onCreate() {
  windowThread_.store(std::this_thread::get_id());
  if (settings_) overlay_ = services_->makeOverlay();
  if (surface_.create(hwnd(), ui::Rect{}, std::string_view(), kChildVisible, 0, "CPlayerWnd") == 0) return -1;
  if (isLiveCell()) {
    titleLabel_.createLabel(hwnd(), ui::Rect{}, "", kChildVisible | ui::SS_CENTERIMAGE);
    bitrateLabel_.createLabel(hwnd(), ui::Rect{}, "", kChildVisible | ui::SS_CENTERIMAGE);
    ui::showWindow(titleLabel_.hwnd(), ui::SW_HIDE);
    ui::showWindow(bitrateLabel_.hwnd(), ui::SW_HIDE);
  }
  ui::setFocus(surface_.hwnd());
  return 0;
}

void CPreviewer::detachDevice() {
  if (hwnd() == 0) {
    if (stream_) stream_->detachDevice();
    device_ = nullptr;
    return;
  }
  onWindowThread(0, [&] {
    closeForGood();
    return 0;
  });
}

void CPreviewer::closeForGood() {
  onDestroy();
  if (stream_) stream_->detachDevice();
  device_ = nullptr;
}

void CPreviewer::onDestroy() {
  if (stream_ && stream_->isOpen()) {
    if (recording_) {
      services_->recording->stop(stream_->handle(), false);
      recording_ = false;
    }
    if (soundOn_) stream_->setSound(false);
    soundOn_ = false;
    stream_->close();
  }
  // An attempt under way is given up; whoever waits for it hears so.
  if (stream_) stream_->close();
  ui::killTimer(hwnd(), kReconnectTimerId);
  ui::killTimer(hwnd(), kSilenceTimerId);
  phase_ = Phase::kClosed;
  completeWaiters(KS_E_NOT_READY);
  closePlayback();
  BitrateTimer::stop(hwnd());
}

void CPreviewer::onFinalMessage(ui::HWND) { delete this; }

bool CPreviewer::titleShown() const {
  return device_ != nullptr && device_->channelCount() >= 2 && !device_->multilens();
}

void CPreviewer::onSize() {
  const ui::Rect client = ui::getClientRect(hwnd());
  const int W = client.width();
  const int H = client.height();
  if (!isLiveCell()) {
    ui::moveWindow(surface_.hwnd(), 0, 0, W, H, true);
  } else {
    ui::showWindow(titleLabel_.hwnd(), titleShown() || waitingForDevice() ? ui::SW_SHOWNA : ui::SW_HIDE);
    ui::showWindow(bitrateLabel_.hwnd(), showBitrate_ ? ui::SW_SHOWNA : ui::SW_HIDE);
    ui::moveWindow(titleLabel_.hwnd(), 0, 0, W, kLabelHeight, false);
    ui::moveWindow(bitrateLabel_.hwnd(), W / 2 - 20, 0, W, kLabelHeight, false);
    placeSurface();
  }
  surfaceRect_ = ui::getWindowRect(surface_.hwnd());
  cellRect_ = ui::getWindowRect(hwnd());
  if (overlay_) overlay_->resize(cellRect_.width(), cellRect_.height());
}

void CPreviewer::placeSurface() {
  const ui::Rect client = ui::getClientRect(hwnd());
  int top = 0;
  int W = client.width();
  int H = client.height();
  if (titleShown() || showBitrate_) {
    top = kLabelHeight;
    H -= kLabelHeight;
  }
  ui::Rect area = ui::Rect::fromSize(0, top, W, H);
  if (keepAspect_ && isOpen() && stream_->pictureWidth() > 0 && stream_->pictureHeight() > 0)
    area = CellGeometry::fitVideo(W, H, top, stream_->pictureWidth(), stream_->pictureHeight());
  ui::moveWindow(surface_.hwnd(), area.left, area.top, area.width(), area.height(), true);
}

void CPreviewer::onPaint() {
  ui::PaintScope paint(hwnd());
  if (!paint.valid()) return;
  // The paint scope draws into the window's image and shows it once at its
  // end, so the fill never shows half done.
  paint.dc().fillRect(ui::getClientRect(hwnd()), kBackground);
}

// ---- events ------------------------------------------------------------

void CPreviewer::raise(int type, int32_t first, int32_t second, const char* url) {
  NotifyEvent event{};
  event.type = type;
  event.channel = channel_;
  if (device_ != nullptr) {
    event.uniqueId = device_->uniqueId();
    event.connectionId = device_->ownerConnection();
  }
  switch (type) {
    case NOTIFY_BITRATE:
      event.enable = static_cast<uint8_t>(first);
      event.bitrateStream = second;
      break;
    case NOTIFY_STREAM_SWITCHED:
      event.switchedStream = first;
      break;
    case NOTIFY_FILE_READY:
      event.fileType = first;
      event.url = url;
      break;
    default:
      break;
  }
  services_->events->raise(event);
}

// ---- open, close, switch -------------------------------------------------

int CPreviewer::open(int streamType, bool open) {
  if (hwnd() == 0) return KS_E_WINDOW;
  if (!open || onOwnThread())
    return onWindowThread(static_cast<int>(KS_E_WINDOW), [&] { return doOpen(streamType, open); });
  std::shared_ptr<OpenWaiter> waiter;
  const int started = startOpen(streamType, waiter);
  return waiter ? waiter->wait(kOpenWaitLimit) : started;
}

int CPreviewer::startOpen(int streamType, std::shared_ptr<OpenWaiter>& waiter) {
  waiter.reset();
  if (hwnd() == 0) return KS_E_WINDOW;
  return onWindowThread(static_cast<int>(KS_E_WINDOW), [&] { return beginOpen(streamType, &waiter); });
}

bool CPreviewer::playing() const { return phase_ == Phase::kLive && stream_->isOpen() && !stream_->broken(); }

void CPreviewer::closeForReopen() {
  // The settings cell reopens, so a new channel or stream takes effect.
  if (soundOn_ && stream_->setSound(false) == 0) soundOn_ = false;
  stream_->close();
}

int CPreviewer::doOpen(int streamType, bool open) {
  if (!stream_) return KS_E_NOT_READY;
  if (open && stream_->isOpen() && !stream_->broken()) {
    if (!settings_) return 0;
    closeForReopen();
  }
  if (!open && phase_ == Phase::kClosed && !stream_->isOpen()) return 0;
  // Whatever happens here replaces an attempt under way or a pending retry.
  ui::killTimer(hwnd(), kReconnectTimerId);
  int rc = 0;
  if (!open) {
    if (recording_) {
      recording_ = false;
      services_->recording->stop(stream_->handle(), false);
    }
    if (stream_->setSound(false) == 0) soundOn_ = false;
    stream_->close();
    zoomOn_ = false;
  } else {
    if (recording_) {
      // A broken stream is opened again: its recording ends with its file.
      recording_ = false;
      services_->recording->stop(stream_->handle(), true);
    }
    stream_->close();
    stream_->setChannel(channel_);
    rc = stream_->open(streamType, surface_.hwnd());
    if (rc == 0) {
      becomeLive(streamType);
      completeWaiters(KS_OK);
      return 0;
    }
  }
  phase_ = Phase::kClosed;
  clearAfterClose();
  completeWaiters(open ? rc : static_cast<int>(KS_E_NOT_READY));
  return rc;
}

int CPreviewer::beginOpen(int streamType, std::shared_ptr<OpenWaiter>* waiter) {
  if (!stream_) return KS_E_NOT_READY;
  if (device_ == nullptr) return MapSdkResult(DLSDK_ERR_INVALID_PARAMETER);
  if (playing()) {
    if (!settings_) return 0;
    closeForReopen();
    phase_ = Phase::kClosed;
  }
  if (phase_ == Phase::kLive) onStreamBroken();  // broken before its notice arrived
  if (waiter != nullptr) {
    *waiter = std::make_shared<OpenWaiter>();
    waiters_.push_back(*waiter);
  }
  // A second open joins the attempt under way.
  if (phase_ == Phase::kConnecting) return KS_OK;
  if (phase_ == Phase::kReconnecting) {
    // Asked again by the page: try now rather than after the wait.
    ui::killTimer(hwnd(), kReconnectTimerId);
    startAttempt(streamType, false);
    return KS_OK;
  }
  stream_->setChannel(channel_);
  phase_ = Phase::kConnecting;
  startAttempt(streamType, false);
  return KS_OK;
}

void CPreviewer::startAttempt(int streamType, bool announce) {
  attemptType_ = streamType;
  announceAttempt_ = announce;
  const ui::HWND self = hwnd();
  const uint64_t attempt = stream_->connectAsync(streamType, [self, this](uint64_t finished) {
    // The task is dropped when the window is gone, and with it the cell.
    ui::postTask(self, [this, finished] { onConnected(finished); });
  });
  showCaption();
  ui::postMessage(hwnd(), ui::WM_SIZE, 0, 0);
  if (attempt == 0) {
    // No device to connect to.
    phase_ = Phase::kClosed;
    clearAfterClose();
    completeWaiters(MapSdkResult(DLSDK_ERR_INVALID_PARAMETER));
  }
}

void CPreviewer::onConnected(uint64_t attempt) {
  if (!stream_) return;
  const int rc = stream_->finishConnect(attempt, surface_.hwnd());
  if (rc == LiveStream::kStale) return;
  if (rc == KS_OK) {
    const bool reconnected = phase_ == Phase::kReconnecting;
    becomeLive(attemptType_);
    if (reconnected && soundOn_ && stream_->setSound(true) != 0) soundOn_ = false;
    if (zoomOn_) stream_->setDisplayRegion(&region_);
    if (announceAttempt_) raise(NOTIFY_STREAM_SWITCHED, attemptType_, 0);
    completeWaiters(KS_OK);
    return;
  }
  if (phase_ == Phase::kReconnecting) {
    completeWaiters(rc);
    scheduleReconnect();
    return;
  }
  phase_ = Phase::kClosed;
  clearAfterClose();
  completeWaiters(rc);
}

void CPreviewer::onStreamBroken() {
  if (phase_ != Phase::kLive || !stream_ || !stream_->isOpen() || !stream_->broken()) return;
  if (recording_) {
    // The recording ends with the connection; its file is kept and offered.
    services_->recording->stop(stream_->handle(), true);
    recording_ = false;
  }
  // Sound stays wanted and comes back with the stream.
  stream_->close();
  phase_ = Phase::kReconnecting;
  BitrateTimer::stop(hwnd());
  ui::killTimer(hwnd(), kSilenceTimerId);
  // The last picture is not shown as if it were live: painted over now,
  // not when the window's queue next runs dry.
  ui::invalidateRect(surface_.hwnd());
  ui::updateWindow(surface_.hwnd());
  showCaption();
  ui::postMessage(hwnd(), ui::WM_SIZE, 0, 0);
  scheduleReconnect();
}

void CPreviewer::scheduleReconnect() {
  ui::setTimer(hwnd(), kReconnectTimerId, static_cast<uint32_t>(backoff_.next()));
}

void CPreviewer::becomeLive(int streamType) {
  phase_ = Phase::kLive;
  backoff_.reset();
  BitrateTimer::start(hwnd());
  ui::setTimer(hwnd(), kSilenceTimerId, kSilenceCheckMs);
  streamType_ = streamType;
  stream_->forceKeyFrame();
  stream_->setDrawHook(&CPreviewer::drawHook, this);
  showCaption();
  ui::postMessage(hwnd(), ui::WM_SIZE, 0, 0);
}

void CPreviewer::clearAfterClose() {
  BitrateTimer::stop(hwnd());
  ui::killTimer(hwnd(), kSilenceTimerId);
  ui::invalidateRect(surface_.hwnd());
  soundOn_ = false;
  showBitrate_ = false;
  if (titleLabel_.hwnd() != 0) ui::setWindowText(titleLabel_.hwnd(), std::string_view());
  if (bitrateLabel_.hwnd() != 0) ui::setWindowText(bitrateLabel_.hwnd(), std::string_view());
  ui::postMessage(hwnd(), ui::WM_SIZE, 0, 0);
}

void CPreviewer::completeWaiters(int result) {
  std::vector<std::shared_ptr<OpenWaiter>> waiters;
  waiters.swap(waiters_);
  for (const auto& waiter : waiters) waiter->complete(result);
}

void CPreviewer::showCaption() {
  if (titleLabel_.hwnd() == 0) return;
  if (phase_ == Phase::kConnecting) {
    ui::setWindowText(titleLabel_.hwnd(), kConnectingCaption);
  } else if (phase_ == Phase::kReconnecting) {
    ui::setWindowText(titleLabel_.hwnd(), kReconnectingCaption);
  } else {
    ui::setWindowText(titleLabel_.hwnd(), std::u16string_view(title_));
  }
}

int CPreviewer::switchStream(int streamType, bool announce) {
  if (hwnd() == 0 || onOwnThread())
    return onWindowThread(static_cast<int>(KS_E_WINDOW), [&] { return doSwitchStream(streamType, announce); });
  std::shared_ptr<OpenWaiter> waiter;
  const int started = startSwitch(streamType, announce, waiter);
  return waiter ? waiter->wait(kOpenWaitLimit) : started;
}

int CPreviewer::startSwitch(int streamType, bool announce, std::shared_ptr<OpenWaiter>& waiter) {
  waiter.reset();
  return onWindowThread(static_cast<int>(KS_E_WINDOW), [&] { return beginSwitch(streamType, announce, &waiter); });
}

void CPreviewer::leaveStreamForSwitch() {
  if (zoomOn_) {
    stream_->setDisplayRegion(nullptr);
    zoomOn_ = false;
  }
  if (recording_) {
    services_->recording->stop(stream_->handle(), true);
    recording_ = false;
  }
  if (device_ != nullptr) device_->talkStop();
  if (stream_->isOpen() && stream_->setSound(false) == 0) soundOn_ = false;
  ui::killTimer(hwnd(), kReconnectTimerId);
  stream_->close();
  if (showBitrate_) toggleBitrate();
  raise(NOTIFY_BITRATE, showBitrate_ ? 1 : 0, streamType_);
  stream_->setChannel(channel_);
}

int CPreviewer::doSwitchStream(int streamType, bool announce) {
  if (!stream_) return KS_E_NOT_READY;
  if (playing() && streamType_ == streamType) return 0;
  leaveStreamForSwitch();
  const int rc = stream_->open(streamType, surface_.hwnd());
  if (rc != 0) {
    phase_ = Phase::kClosed;
    ui::invalidateRect(surface_.hwnd());
    if (titleLabel_.hwnd() != 0) ui::setWindowText(titleLabel_.hwnd(), std::string_view());
    completeWaiters(rc);
    return rc;
  }
  phase_ = Phase::kLive;
  ui::setTimer(hwnd(), kSilenceTimerId, kSilenceCheckMs);
  streamType_ = streamType;
  showCaption();
  completeWaiters(KS_OK);
  if (announce) raise(NOTIFY_STREAM_SWITCHED, streamType, 0);
  return 0;
}

int CPreviewer::beginSwitch(int streamType, bool announce, std::shared_ptr<OpenWaiter>* waiter) {
  if (!stream_) return KS_E_NOT_READY;
  if (playing() && streamType_ == streamType) return 0;
  if (device_ == nullptr) return MapSdkResult(DLSDK_ERR_INVALID_PARAMETER);
  leaveStreamForSwitch();
  if (waiter != nullptr) {
    *waiter = std::make_shared<OpenWaiter>();
    waiters_.push_back(*waiter);
  }
  phase_ = Phase::kConnecting;
  startAttempt(streamType, announce);
  return KS_OK;
}

int CPreviewer::setMute(bool mute) {
  return onWindowThread(static_cast<int>(KS_E_NOT_READY), [&] {
    if (!isOpen()) return static_cast<int>(KS_E_NOT_READY);
    const int rc = stream_->setSound(!mute);
    if (rc != 0) return MapSdkResult(rc);
    soundOn_ = !mute;
    return 0;
  });
}

// ---- zoom and aspect -----------------------------------------------------

int CPreviewer::zoomOn() {
  return onWindowThread(static_cast<int>(KS_E_NOT_READY), [&] {
    if (!isOpen()) return static_cast<int>(KS_E_NOT_READY);
    if (!zoomOn_) {
      region_ = CellGeometry::kWholePicture;
      zoomOn_ = true;
    }
    return 0;
  });
}

int CPreviewer::zoomOff() {
  return onWindowThread(static_cast<int>(KS_E_NOT_READY), [&] {
    if (!isOpen()) return static_cast<int>(KS_E_NOT_READY);
    if (zoomOn_) {
      stream_->setDisplayRegion(nullptr);
      zoomOn_ = false;
    }
    return 0;
  });
}

int CPreviewer::setKeepAspect(bool on) {
  return onWindowThread(static_cast<int>(KS_E_NOT_READY), [&] {
    if (!isOpen()) return static_cast<int>(KS_E_NOT_READY);
    keepAspect_ = on;
    placeSurface();
    return 0;
  });
}

int CPreviewer::settingsRecord(DeviceSettingsParam& record) {
  if (!isOpen()) return KS_E_NOT_READY;
  if (!overlay_) return KS_E_UNAVAILABLE;
  switch (record.operate) {
    case 1:
      return overlay_->apply(record);
    case 2:
      return overlay_->readBack(record);
    case 3:
      record.type = 0;
      return overlay_->apply(record);
    default:
      return 0;
  }
}

void CPreviewer::onVideoSizeChanged() {
  if (keepAspect_ && isOpen()) placeSurface();
  if (overlay_ && stream_) overlay_->setVideoSize(stream_->pictureWidth(), stream_->pictureHeight());
}

void CPreviewer::onLeftDown(ui::LPARAM lParam) {
  if (ui::isWindowVisible(hwnd())) {
    const ui::Rect confine = ui::getWindowRect(surface_.hwnd());
    ui::clipCursor(&confine);
  }
  if (zoomOn_) {
    dragSurfaceRect_ = surfaceRect_;
    dragStartX_ = ui::LOWORD(static_cast<uintptr_t>(lParam));
    dragStartY_ = ui::HIWORD(static_cast<uintptr_t>(lParam));
    dragCurrentX_ = dragStartX_.load();
    dragCurrentY_ = dragStartY_.load();
    dragging_ = true;
    drawRect_ = true;
  }
  if (overlay_) overlay_->mouseDown(ui::GET_X_LPARAM(lParam), ui::GET_Y_LPARAM(lParam));
}

void CPreviewer::onMouseMove(ui::LPARAM lParam) {
  if (dragging_ || zoomOn_) {
    dragCurrentX_ = ui::LOWORD(static_cast<uintptr_t>(lParam));
    dragCurrentY_ = ui::HIWORD(static_cast<uintptr_t>(lParam));
  }
  if (overlay_) overlay_->mouseMove(ui::GET_X_LPARAM(lParam), ui::GET_Y_LPARAM(lParam));
}

void CPreviewer::onLeftUp(ui::LPARAM lParam) {
  ui::clipCursor(nullptr);
  const int x = ui::GET_X_LPARAM(lParam);
  const int y = ui::GET_Y_LPARAM(lParam);
  if (zoomOn_) {
    // A surface that moved during the drag makes the rectangle meaningless.
    if (dragSurfaceRect_ == surfaceRect_ && dragging_) {
      const ui::Point start{dragStartX_.load(), dragStartY_.load()};
      const ui::Point end{ui::LOWORD(static_cast<uintptr_t>(lParam)), ui::HIWORD(static_cast<uintptr_t>(lParam))};
      ZoomRegion next;
      if (CellGeometry::zoomAfterDrag(region_, start, end, surfaceRect_.width(), surfaceRect_.height(), next)) {
        region_ = next;
        if (stream_) stream_->setDisplayRegion(&region_);
        if (overlay_) overlay_->mouseUp(x, y);
      }
    }
  } else if (overlay_) {
    overlay_->mouseUp(x, y);
  }
  dragging_ = false;
  drawRect_ = false;
  ui::sendMessage(ui::getParent(hwnd()), MsgCellSelected, reinterpret_cast<ui::WPARAM>(this));
  if (!settings_ && device_ != nullptr && device_->channelCount() > 1) raise(NOTIFY_SELECTED, 0, 0);
}

void CPreviewer::drawHook(int32_t, void* deviceContext, void* context) {
  auto* self = static_cast<CPreviewer*>(context);
  auto* dc = static_cast<ui::DeviceContext*>(deviceContext);
  if (self == nullptr || dc == nullptr) return;
  if (self->overlay_) self->overlay_->paint(*dc);
  if (self->dragging_.load() && self->drawRect_.load()) {
    const int x0 = self->dragStartX_.load(), y0 = self->dragStartY_.load();
    const int x1 = self->dragCurrentX_.load(), y1 = self->dragCurrentY_.load();
    const ui::Rect r{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1};
    dc->frameRect(r, kZoomColor, 1);
  }
}

// ---- bitrate -------------------------------------------------------------

void CPreviewer::toggleBitrate() {
  showBitrate_ = !showBitrate_;
  raise(NOTIFY_BITRATE, showBitrate_ ? 1 : 0, streamType_);
  if (showBitrate_) {
    BitrateTimer::start(hwnd());
  } else {
    BitrateTimer::stop(hwnd());
  }
  ui::postMessage(hwnd(), ui::WM_SIZE, 0, 0);
  if (!showBitrate_ && bitrateLabel_.hwnd() != 0) ui::setWindowText(bitrateLabel_.hwnd(), std::string_view());
}

int CPreviewer::setBitrates(int kbpsMain, int kbpsSub, int kbpsThird) {
  return onWindowThread(0, [&] {
    if (!playback_ && showBitrate_) {
      kbpsMain_ = kbpsMain;
      kbpsSub_ = kbpsSub;
      kbpsThird_ = kbpsThird;
    }
    return 0;
  });
}

void CPreviewer::onTimer() {
  if (!isOpen() || !showBitrate_ || bitrateLabel_.hwnd() == 0) return;
  const int kbps = BitrateTimer::kbpsFor(streamType_, kbpsMain_, kbpsSub_, kbpsThird_);
  ui::setWindowText(bitrateLabel_.hwnd(),
                    BitrateTimer::labelText(stream_->pictureWidth(), stream_->pictureHeight(), kbps));
}

int CPreviewer::setTitle(const char16_t* text) {
  std::u16string title = text != nullptr ? std::u16string(text) : std::u16string();
  return onWindowThread(0, [&] {
    title_ = title;
    // While the cell waits for its device the caption says so instead.
    showCaption();
    return 0;
  });
}

void CPreviewer::setFont(ui::HFONT font, bool redraw) {
  onWindowThread(0, [&] {
    if (titleLabel_.hwnd() != 0) ui::sendMessage(titleLabel_.hwnd(), ui::WM_SETFONT, font, redraw ? 1 : 0);
    if (bitrateLabel_.hwnd() != 0) ui::sendMessage(bitrateLabel_.hwnd(), ui::WM_SETFONT, font, redraw ? 1 : 0);
    return 0;
  });
}

// ---- context menu ----------------------------------------------------------

void CPreviewer::onContextMenu() {
  if (!isOpen() || settings_ || device_ == nullptr) return;
  const int streams = device_->streamOf(channel_);
  ui::Menu menu;
  // The page's texts replace the built-in ones; an empty text keeps the
  // built-in one rather than showing a blank item.
  auto text = [&](unsigned id, std::u16string_view builtIn) {
    const std::u16string& page = device_->menuText(id);
    return page.empty() ? std::u16string(builtIn) : page;
  };
  menu.append(CDVSDevice::kMenuShowBitrate, text(CDVSDevice::kMenuShowBitrate, u"Show bitrate"));
  menu.append(StreamKind::kMenuMain, text(StreamKind::kMenuMain, u"Main stream"));
  if (streams >= 2) menu.append(StreamKind::kMenuSub, text(StreamKind::kMenuSub, u"Sub stream"));
  if (streams >= 3) menu.append(StreamKind::kMenuThird, text(StreamKind::kMenuThird, u"Third stream"));
  menu.check(StreamKind::kMenuMain, streamType_ == StreamKind::kDeviceMain);
  menu.check(StreamKind::kMenuSub, streamType_ == StreamKind::kDeviceSub);
  menu.check(StreamKind::kMenuThird, streamType_ == StreamKind::kDeviceThird);
  menu.check(CDVSDevice::kMenuShowBitrate, showBitrate_);
  menu.track(ui::TPM_LEFTBUTTON, ui::clampToWorkArea(ui::getCursorPos()), hwnd());
}

void CPreviewer::onCommand(unsigned id) {
  if (id == CDVSDevice::kMenuShowBitrate) {
    toggleBitrate();
    return;
  }
  const int type = StreamKind::deviceFromMenu(id);
  if (type == 0 || settings_) return;
  // The user's own choice: the window's thread does not wait for the device.
  beginSwitch(type, true, nullptr);
}

// ---- snapshots, recording, files -----------------------------------------------

int CPreviewer::snapshot(bool live, int format, char* path) {
  if (path == nullptr) return KS_E_INVALID;
  return onWindowThread(static_cast<int>(KS_E_NOT_READY), [&] { return doSnapshot(live, format, path); });
}

int CPreviewer::doSnapshot(bool live, int format, char* buffer) {
  const size_t given = ::strnlen(buffer, kPathBytes);
  // A path that does not fit the buffer is refused, never cut to another.
  if (given >= kPathBytes) return KS_E_INVALID;
  // A cell waiting for its device has no picture of now: the SDK would
  // still hand out the last one it decoded.
  if (live && (waitingForDevice() || (stream_ && stream_->broken()))) return KS_E_WINDOW;
  if (given > 0) {
    if (!pictureOpen(live)) return KS_E_NOT_READY;
    return snapshotToPagePath(std::string(buffer, given), format, live);
  }
  std::string path;
  if (stream_) {
    const std::string folder =
        SnapshotPath::folder(WorkFolders::folder(WorkFolderKind::kImage), stream_->macText(), channel_);
    // The folders are made from the work root down, never through a link;
    // without them there is no picture.
    if (!folder.empty() && WorkFolders::makeFolder(folder)) {
      path = folder + "/" + SnapshotPath::fileName(live, services_->now(), services_->fileCounter->next(), format);
      // The caller's buffer gets the path back; one that would not fit is
      // not written at all.
      if (path.size() >= kPathBytes) path.clear();
    }
  }
  if (path.empty()) return KS_E_WINDOW;
  if (!pictureOpen(live)) return KS_E_NOT_READY;
  // Only the snapshot's own answer counts: a file left from before is no
  // picture of now.
  if (takePicture(live, path) != 0) return KS_E_WINDOW;
  sys::copyUtf8Bounded(buffer, kPathBytes, path);
  postFileReady(2, path);
  return 0;
}

bool CPreviewer::pictureOpen(bool live) const {
  // A live cell plays no recorded stream and a playback cell no live one.
  return live ? isOpen() : (recorded_ && recorded_->isOpen());
}

int CPreviewer::takePicture(bool live, const std::string& path) {
  // The file is made new here (0600, from the work root down, no link
  // followed, never over an existing one); the SDK then only fills it. A
  // picture that fails leaves no empty file behind.
  const int fd = WorkFolders::createFile(path);
  if (fd < 0) return KS_E_WINDOW;
  ::close(fd);
  const int rc = live ? stream_->snapshot(path) : recorded_->snapshot(path);
  if (rc != 0) WorkFolders::removeEntry(path, false);
  return rc;
}

int CPreviewer::snapshotToPagePath(const std::string& chosen, int format, bool live) {
  if (!SnapshotPath::acceptsPagePath(chosen, format)) return KS_E_WINDOW;
  // The picture is taken into a file of our own first; the page's path is
  // then created new and filled from it, so that no link is followed and no
  // file the page names is overwritten.
  const std::string folder =
      stream_ ? SnapshotPath::folder(WorkFolders::folder(WorkFolderKind::kImage), stream_->macText(), channel_)
              : std::string();
  if (folder.empty() || !WorkFolders::makeFolder(folder)) return KS_E_WINDOW;
  const std::string own =
      folder + "/" + SnapshotPath::fileName(live, services_->now(), services_->fileCounter->next(), format);
  const int rc = takePicture(live, own);
  const bool copied = rc == 0 && SnapshotPath::copyToNewFile(own, chosen);
  WorkFolders::removeEntry(own, false);
  if (!copied) return KS_E_WINDOW;
  // The caller's buffer holds the chosen path already. Only a file below
  // the image folder has a download address to offer.
  if (chosen.rfind(WorkFolders::folder(WorkFolderKind::kImage), 0) == 0) postFileReady(2, chosen);
  return 0;
}

void CPreviewer::postFileReady(int kind, const std::string& path) {
  const std::u16string wide = sys::utf8ToUtf16(path);
  auto* copy = static_cast<char16_t*>(std::calloc(wide.size() + 1, sizeof(char16_t)));
  if (copy == nullptr) return;
  std::memcpy(copy, wide.data(), wide.size() * sizeof(char16_t));
  if (!ui::postMessage(hwnd(), MsgFileReady, static_cast<ui::WPARAM>(kind), reinterpret_cast<ui::LPARAM>(copy)))
    std::free(copy);
}

int CPreviewer::setRecording(bool start, std::string* path) {
  if (path != nullptr) path->clear();
  return onWindowThread(static_cast<int>(KS_E_NOT_READY), [&] {
    if (start == recording_) return 0;
    if (!isOpen()) return static_cast<int>(KS_E_NOT_READY);
    if (start) {
      int duration = ConfigFile::readInt("Record", "Duration");
      if (duration <= 0) duration = kDefaultRecordSeconds;
      const int rc = services_->recording->start(channel_, *stream_, static_cast<uint32_t>(duration));
      if (rc != 0) return rc;
      stream_->forceKeyFrame();
    } else {
      std::string where;
      services_->recording->stopAt(stream_->handle(), true, where);
      if (path != nullptr) *path = std::move(where);
    }
    recording_ = start;
    return 0;
  });
}

void CPreviewer::onFileReady(int kind, char16_t* path) {
  if (path == nullptr) return;
  const std::string utf8 = sys::utf16ToUtf8(std::u16string_view(path, sys::utf16Length(path, 4096)));
  std::free(path);
  if (kind != 1 && kind != 2) return;
  const auto url = DownloadUrl::forFile(services_->serverPort(), WorkFolders::folder(kind), utf8);
  if (!url) return;
  raise(NOTIFY_FILE_READY, kind, 0, url->c_str());
}

}  // namespace ksplugs
