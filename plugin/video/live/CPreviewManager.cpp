#include "plugin/video/live/CPreviewManager.h"

#include <algorithm>
#include <memory>
#include <new>
#include <thread>
#include <utility>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowDC.h"
#include "plugin/api/ksplugs.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/StreamKind.h"
#include "plugin/video/VideoMessages.h"
#include "plugin/video/WindowTask.h"
#include "plugin/video/live/CPreviewer.h"
#include "plugin/video/live/SplitLayout.h"

namespace ksplugs {

namespace {

// Channel counts whose devices page through their cells; other devices keep
// the layout they have.
bool pagesLayouts(int channels) {
  switch (channels) {
    case 4: case 6: case 8: case 9: case 10: case 16: case 18: case 25: case 32: case 36: return true;
    default: return false;
  }
}

bool hasVisibleStyle(ui::HWND hwnd) { return (ui::getWindowStyle(hwnd) & ui::WS_VISIBLE) != 0; }

}  // namespace

CPreviewManager::CPreviewManager(std::shared_ptr<const VideoServices> services) : DockWindow(std::move(services)) {
  setNoClassBackground();
}

CPreviewManager::~CPreviewManager() = default;

int CPreviewManager::cellCount(int type) { return SplitLayout::cellCount(type); }

void CPreviewManager::setInitialLayout(int type) {
  if (!hasWindow() && SplitLayout::isLayout(type)) layoutType_.store(type);
}

int CPreviewManager::setLayout(uint32_t type) {
  const ui::HWND hwnd = window();
  if (hwnd == 0) {
    if (type != 0) setInitialLayout(static_cast<int>(type));
    return 0;
  }
  onWindowThread(0, [&] {
    if (type == 0) {
      toggleFullScreen();
    } else if (type <= static_cast<uint32_t>(kMaxCells)) {
      doSetLayout(static_cast<int>(type));
    }
    return 0;
  });
  return 0;
}

int CPreviewManager::onWindowThread(int fallback, const std::function<int()>& work) {
  return answerOnWindowThread(window(), fallback, work);
}

int CPreviewManager::withCell(int channel, bool settings, const std::function<int(CPreviewer&)>& work) {
  return onWindowThread(KS_E_CHANNEL, [&] {
    CPreviewer* cell = findCellHere(channel, settings);
    return cell != nullptr ? work(*cell) : static_cast<int>(KS_E_CHANNEL);
  });
}

CPreviewer* CPreviewManager::findCell(int channel, bool settings) {
  CPreviewer* found = nullptr;
  onWindowThread(0, [&] {
    found = findCellHere(channel, settings);
    return 0;
  });
  return found;
}

CPreviewer* CPreviewManager::findCellHere(int channel, bool settings) const {
  if (settings) return settingsCell_;
  if (cells_.empty()) return nullptr;
  const WebPlug_NCL::CDVSDevice* device = session();
  if (device != nullptr && device->multilens()) return cells_.front();
  if (channel == -1) return selected_;
  for (CPreviewer* cell : cells_)
    if (cell->channel() == channel) return cell;
  return nullptr;
}

// ---- the page's operations ---------------------------------------------------

int CPreviewManager::openChannel(int channel, int streamType, bool open, const std::u16string& caption,
                                 int lensChannel) {
  return openChannels({ChannelOpen{channel, caption}}, streamType, open, lensChannel);
}

int CPreviewManager::openChannels(const std::vector<ChannelOpen>& channels, int streamType, bool open,
                                  int lensChannel) {
  if (channels.empty()) return KS_OK;
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<int> results(channels.size(), static_cast<int>(KS_E_CHANNEL));
  std::vector<std::shared_ptr<OpenWaiter>> waiters(channels.size());
  onWindowThread(0, [&] {
    // On the window's own thread there is nobody else to wait: the cells
    // connect in place, one after the other.
    const bool inPlace = std::this_thread::get_id() == caller;
    const WebPlug_NCL::CDVSDevice* device = session();
    for (size_t i = 0; i < channels.size(); ++i) {
      CPreviewer* cell = findCellHere(channels[i].channel, false);
      if (cell == nullptr) continue;
      // An empty caption leaves the cell's title as it is.
      if (open && !channels[i].caption.empty()) cell->setTitle(channels[i].caption.c_str());
      if (device != nullptr && device->multilens()) cell->setChannel(lensChannel);
      results[i] = !open || inPlace ? cell->open(streamType, open) : cell->startOpen(streamType, waiters[i]);
    }
    return 0;
  });
  for (size_t i = 0; i < channels.size(); ++i)
    if (waiters[i]) results[i] = waiters[i]->wait(CPreviewer::kOpenWaitLimit);
  return results.back();
}

int CPreviewManager::openSettings(int channel, int streamType, bool open) {
  return withCell(0, true, [&](CPreviewer& cell) {
    if (open) cell.setChannel(channel);
    return cell.open(streamType, open);
  });
}

int CPreviewManager::setMute(int channel, bool mute) {
  return withCell(channel, false, [&](CPreviewer& cell) { return cell.setMute(mute); });
}

int CPreviewManager::setZoom(int channel, bool on) {
  return withCell(channel, false, [&](CPreviewer& cell) { return on ? cell.zoomOn() : cell.zoomOff(); });
}

int CPreviewManager::setKeepAspect(int channel, bool on) {
  return withCell(channel, false, [&](CPreviewer& cell) { return cell.setKeepAspect(on); });
}

int CPreviewManager::switchStream(int channel, int streamType, const std::u16string& caption) {
  const std::thread::id caller = std::this_thread::get_id();
  std::shared_ptr<OpenWaiter> waiter;
  // The page asked for it, so the cell does not announce the switch back.
  int result = withCell(channel, false, [&](CPreviewer& cell) {
    return std::this_thread::get_id() == caller ? cell.switchStream(streamType, false)
                                                : cell.startSwitch(streamType, false, waiter);
  });
  if (waiter) result = waiter->wait(CPreviewer::kOpenWaitLimit);
  const WebPlug_NCL::CDVSDevice* device = session();
  if (result == KS_OK && !caption.empty() && (device == nullptr || !device->multilens())) {
    withCell(channel, false, [&](CPreviewer& cell) { return cell.setTitle(caption.c_str()); });
  }
  return result;
}

int CPreviewManager::setBitrates(int channel, int kbpsMain, int kbpsSub, int kbpsThird) {
  return withCell(channel, false, [&](CPreviewer& cell) { return cell.setBitrates(kbpsMain, kbpsSub, kbpsThird); });
}

int CPreviewManager::snapshot(int channel, bool live, int format, char* path) {
  return withCell(channel, false, [&](CPreviewer& cell) { return cell.snapshot(live, format, path); });
}

int CPreviewManager::setRecording(int channel, bool start, std::string* path) {
  return withCell(channel, false, [&](CPreviewer& cell) { return cell.setRecording(start, path); });
}

void CPreviewManager::showCell(int channel, bool settings, bool show) {
  withCell(channel, settings, [&](CPreviewer& cell) {
    ui::showWindow(cell.hwnd(), show ? ui::SW_SHOWNA : ui::SW_HIDE);
    return 0;
  });
}

void CPreviewManager::showLayoutCells(bool show) {
  const int count = cellCount(layout());
  for (int channel = 0; channel < count; ++channel) {
    if (CPreviewer* cell = findCellHere(channel, false)) ui::showWindow(cell->hwnd(), show ? ui::SW_SHOWNA : ui::SW_HIDE);
  }
}

void CPreviewManager::showSettingsView() {
  setShown(true);
  onWindowThread(0, [&] {
    showLayoutCells(false);
    show();
    if (settingsCell_ != nullptr) ui::showWindow(settingsCell_->hwnd(), ui::SW_SHOWNA);
    return 0;
  });
}

void CPreviewManager::showLayoutView() {
  setShown(true);
  onWindowThread(0, [&] {
    if (!singleView_) showLayoutCells(true);
    show();
    if (settingsCell_ != nullptr) ui::showWindow(settingsCell_->hwnd(), ui::SW_HIDE);
    return 0;
  });
}

bool CPreviewManager::settingsViewShown() {
  return onWindowThread(0, [&] { return settingsCellHidden() ? 0 : 1; }) != 0;
}

int CPreviewManager::settingsRecord(DeviceSettingsParam& record) {
  return onWindowThread(KS_E_NOT_READY, [&] {
    return settingsCell_ != nullptr ? settingsCell_->settingsRecord(record) : static_cast<int>(KS_E_WINDOW);
  });
}

bool CPreviewManager::hasSettingsCell() {
  return onWindowThread(0, [&] { return settingsCell_ != nullptr ? 1 : 0; }) != 0;
}

void CPreviewManager::muteAll(int channels) {
  onWindowThread(0, [&] {
    for (int channel = 0; channel < channels; ++channel) {
      if (CPreviewer* cell = findCellHere(channel, false)) cell->setMute(true);
    }
    return 0;
  });
}

void CPreviewManager::closeAllStreams(int channels) {
  onWindowThread(0, [&] {
    for (int channel = 0; channel < channels; ++channel) {
      CPreviewer* cell = findCellHere(channel, false);
      if (cell == nullptr) continue;
      // The device goes (destroyed, its page gone, the program ending): a
      // running recording ends as if the page had stopped it, so its file
      // is kept and offered rather than discarded with the cell.
      cell->setRecording(false);
      cell->open(StreamKind::kDeviceMain, false);
    }
    if (settingsCell_ != nullptr) settingsCell_->open(StreamKind::kDeviceMain, false);
    return 0;
  });
}

void CPreviewManager::setFont(ui::HFONT font, bool redraw) {
  onWindowThread(0, [&] {
    defaultHandle(ui::WM_SETFONT, font, redraw ? 1 : 0);
    for (CPreviewer* cell : cells_) cell->setFont(font, redraw);
    if (settingsCell_ != nullptr) settingsCell_->setFont(font, redraw);
    return 0;
  });
}

void CPreviewManager::releaseSession() {
  // The session goes away with the device entry right after this, while the
  // window closes later on its own thread: the cells let go of it now.
  for (CPreviewer* cell : cells_) cell->detachDevice();
  if (settingsCell_ != nullptr) settingsCell_->detachDevice();
}

// ---- messages -------------------------------------------------------------

ui::LRESULT CPreviewManager::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  switch (msg) {
    case ui::WM_CREATE: return onCreate();
    case ui::WM_DESTROY: return 0;
    case ui::WM_MOVE:
      for (CPreviewer* cell : cells_) ui::postMessage(cell->hwnd(), ui::WM_MOVE, 0, 0);
      if (settingsCell_ != nullptr) ui::postMessage(settingsCell_->hwnd(), ui::WM_MOVE, 0, 0);
      return 0;
    case ui::WM_SIZE: onSize(); return 0;
    case ui::WM_PAINT: onPaint(); return 0;
    case ui::WM_CLOSE: destroyWindow(); return 0;
    case ui::WM_ERASEBKGND: return 1;
    case ui::WM_WINDOWPOSCHANGING: keepShownState(reinterpret_cast<ui::WINDOWPOS*>(lParam)); return 0;
    case ui::WM_KEYUP:
      if (wParam == ui::VK_ESCAPE && isFullScreen()) toggleFullScreen();
      return 0;
    case MsgCellDoubleClick: toggleSingleView(); return 0;
    case MsgCellSelected: {
      auto* cell = reinterpret_cast<CPreviewer*>(wParam);
      // Only our own cells can be selected; the settings cell is not one.
      if (std::find(cells_.begin(), cells_.end(), cell) != cells_.end()) select(cell);
      if (docked() && ownerWindow() != 0) ui::setForegroundWindow(ownerWindow());
      return 0;
    }
    default: return defaultHandle(msg, wParam, lParam);
  }
}

ui::LRESULT CPreviewManager::onCreate() {
  const ui::HFONT font = adoptCreatedWindow();

  WebPlug_NCL::CDVSDevice* device = session();
  const int channels = device != nullptr ? device->channelCount() : 0;
  const int count = channels < 2 ? 1 : kMaxCells;
  for (int i = 0; i < count; ++i) {
    auto* cell = new (std::nothrow) CPreviewer(i, false, sharedServices());
    if (cell == nullptr) break;
    cell->setDevice(device);
    if (cell->createCell(hwnd(), true) == 0) {
      delete cell;
      break;
    }
    cells_.push_back(cell);
    cell->setFont(font, true);
  }
  if (!cells_.empty()) select(cells_.front());
  if (layoutType_.load() == -1) {
    const bool single = cells_.size() <= 1 || (device != nullptr && device->multilens());
    layoutType_.store(single ? 1 : 6);
  }
  if (auto* settings = new (std::nothrow) CPreviewer(0, true, sharedServices())) {
    settings->setDevice(device);
    if (settings->createCell(hwnd(), false) != 0) {
      settingsCell_ = settings;
    } else {
      delete settings;
    }
  }
  return 0;
}

void CPreviewManager::onDockGone() {
  // The cells' windows ended before this one and deleted their objects.
  cells_.clear();
  selected_ = nullptr;
  settingsCell_ = nullptr;
}

void CPreviewManager::onSize() {
  if (!cells_.empty()) layoutPass(false, true);
  if (settingsCell_ != nullptr) {
    const ui::Rect client = ui::getClientRect(hwnd());
    ui::moveWindow(settingsCell_->hwnd(), 0, 0, client.width(), client.height(), true);
  }
}

void CPreviewManager::onPaint() {
  ui::PaintScope paint(hwnd());
  if (!paint.valid()) return;
  const ui::Rect client = ui::getClientRect(hwnd());
  // The paint scope draws into the window's image and shows it once at its
  // end, so the fill and the border appear together.
  paint.dc().fillRect(client, ui::RGB(255, 255, 255));
  if (borderVisible() && selected_ != nullptr && cells_.size() >= 2) {
    ui::DeviceContext& dc = paint.dc();
    const ui::Rect screen = ui::getWindowRect(selected_->hwnd());
    const ui::Point topLeft = ui::screenToClient(hwnd(), {screen.left, screen.top});
    const ui::Rect r = screen.offset(topLeft.x - screen.left, topLeft.y - screen.top);
    const int level = dc.save();
    dc.frameRect({r.left - 2, r.top - 2, r.right + 2, r.bottom + 2}, kSelectColor, 2);
    dc.restore(level);
  }
}

// ---- selection ----------------------------------------------------------------

void CPreviewManager::drawBorder(CPreviewer* cell, bool draw) {
  if (cell == nullptr || cells_.size() < 2 || cell->hwnd() == 0) return;
  const ui::Rect screen = ui::getWindowRect(cell->hwnd());
  const ui::Point topLeft = ui::screenToClient(hwnd(), {screen.left, screen.top});
  const ui::Rect r = screen.offset(topLeft.x - screen.left, topLeft.y - screen.top);
  // A two-pixel outline just outside the cell, in the gap between cells.
  const ui::Rect outline{r.left - 2, r.top - 2, r.right + 2, r.bottom + 2};
  ui::WindowDC windowDc(hwnd());
  if (!windowDc.valid()) return;
  ui::DeviceContext& dc = windowDc.dc();
  const int level = dc.save();
  dc.frameRect(outline, draw ? kSelectColor : kEraseColor, 2);
  dc.restore(level);
  windowDc.setDirty(outline.intersect(ui::getClientRect(hwnd())));
}

void CPreviewManager::select(CPreviewer* cell) {
  if (cell == selected_) return;
  drawBorder(selected_, false);
  selected_ = cell;
  if (borderVisible()) drawBorder(selected_, true);
}

bool CPreviewManager::settingsCellHidden() const {
  return settingsCell_ == nullptr || !hasVisibleStyle(settingsCell_->hwnd());
}

// ---- layouts -----------------------------------------------------------------

void CPreviewManager::layoutPass(bool nextPage, bool keepPage) {
  const int type = layoutType_.load();
  if (nextPage && type == 6) return;
  if (cells_.empty()) return;
  drawBorder(selected_, false);
  const bool repaint = settingsCellHidden();
  const ui::Rect outer = ui::getWindowRect(hwnd());
  const int W = outer.width();
  const int H = outer.height();
  const int count = static_cast<int>(cells_.size());

  if (singleView_ && type != 1) {
    CPreviewer* shown = selected_ != nullptr ? selected_ : cells_.front();
    ui::moveWindow(shown->hwnd(), 0, 0, W, H, repaint);
    ui::showWindow(shown->hwnd(), ui::SW_SHOWNA);
    for (CPreviewer* cell : cells_)
      if (cell != shown) ui::showWindow(cell->hwnd(), ui::SW_HIDE);
    return;
  }
  if (type == 1) {
    int k = SplitLayout::singlePageCell(pageStart_, nextPage, keepPage);
    if (k >= count) k = 0;
    CPreviewer* shown = cells_[k];
    ui::moveWindow(shown->hwnd(), 0, 0, W, H, repaint);
    if (repaint) ui::showWindow(shown->hwnd(), ui::SW_SHOWNA);
    for (CPreviewer* cell : cells_)
      if (cell != shown) ui::showWindow(cell->hwnd(), ui::SW_HIDE);
    select(shown);
    pageStart_ = k;
    return;
  }
  if (!SplitLayout::isLayout(type)) return;  // never stored; refused by setLayout
  const int s = SplitLayout::passPageStart(type, pageStart_, nextPage, keepPage);
  const int c = SplitLayout::cellCount(type);
  const bool special = type == 15 || type == 16 || type == 17;
  for (int i = 0; i < count; ++i) {
    const ui::HWND cell = cells_[i]->hwnd();
    if (i < s || i >= s + c) {
      ui::showWindow(cell, ui::SW_HIDE);
      continue;
    }
    const auto rect = SplitLayout::cellRect(type, i - s, W, H);
    if (!rect) continue;
    ui::moveWindow(cell, rect->left, rect->top, rect->width(), rect->height(), special || repaint);
    ui::showWindow(cell, ui::SW_SHOWNA);
  }
  pageStart_ = s;
  if (selected_ == nullptr || !hasVisibleStyle(selected_->hwnd())) {
    select(cells_.front());
  } else if (borderVisible()) {
    drawBorder(selected_, true);
  }
}

void CPreviewManager::doSetLayout(int type) {
  // A type that is not a layout would leave the dock half laid out: refuse
  // it and keep what is shown.
  if (!SplitLayout::isLayout(type)) return;
  const int current = layoutType_.load();
  layoutChanged_ = type != current;
  const WebPlug_NCL::CDVSDevice* device = session();
  const int channels = device != nullptr ? device->channelCount() : 0;
  if (pagesLayouts(channels)) {
    if (channels == kMaxCells) {
      layoutType_.store(type);
      singleView_ = false;
      layoutPass(type == current, false);
    } else if (SplitLayout::cellCount(type) * pageCounter_ >= channels || layoutChanged_) {
      pageStart_ = 0;
      pageCounter_ = 0;
      layoutType_.store(type);
      singleView_ = false;
      layoutPass(false, false);
    } else {
      layoutType_.store(type);
      singleView_ = false;
      layoutPass(true, false);
    }
  }
  ++pageCounter_;
}

void CPreviewManager::toggleSingleView() {
  if (cells_.size() < 2) {
    toggleFullScreen();
    return;
  }
  singleView_ = !singleView_;
  drawBorder(selected_, false);
  layoutPass(false, false);
  if (!singleView_ && layoutType_.load() != 1) drawBorder(selected_, true);
}

void CPreviewManager::toggleFullScreen() {
  const bool entering = !isFullScreen();
  fullScreen_.store(entering);
  if (entering) {
    ui::setFocus(hwnd());
    if (!docked()) ui::setParent(hwnd(), ui::getDesktopWindow());
    ui::getWindowPlacement(hwnd(), savedPlacement_);
    const ui::Size screen = ui::getPrimaryScreenSize();
    ui::setWindowPos(hwnd(), ui::HWND_TOPMOST, 0, 0, screen.cx, screen.cy, ui::SWP_FRAMECHANGED);
  } else {
    ui::setWindowPos(hwnd(), ui::HWND_NOTOPMOST, 0, 0, 0, 0, ui::SWP_NOMOVE | ui::SWP_NOSIZE);
    if (!docked()) ui::setParent(hwnd(), ownerWindow());
    ui::setWindowPlacement(hwnd(), savedPlacement_);
    ui::sendMessage(hwnd(), ui::WM_SIZE, 0, 0);
  }
}

}  // namespace ksplugs
