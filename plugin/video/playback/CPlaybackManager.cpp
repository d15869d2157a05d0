#include "plugin/video/playback/CPlaybackManager.h"

#include <new>
#include <utility>

#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowApi.h"
#include "plugin/video/VideoMessages.h"
#include "plugin/video/WindowTask.h"
#include "plugin/video/live/CPreviewer.h"

namespace ksplugs {

CPlaybackManager::CPlaybackManager(std::shared_ptr<const VideoServices> services) : DockWindow(std::move(services)) {}

CPreviewer* CPlaybackManager::findOpenCell(int channel) const {
  CPreviewer* cell = player();
  if (cell == nullptr || channel < 0) return nullptr;
  return cell->playbackChannel() == channel ? cell : nullptr;
}

void CPlaybackManager::releasePlayer() {
  if (CPreviewer* cell = player()) cell->releasePlayback();
}

void CPlaybackManager::showPlayer(bool show) {
  answerOnWindowThread(window(), 0, [&] {
    if (CPreviewer* cell = player(); cell != nullptr && cell->hwnd() != 0)
      ui::showWindow(cell->hwnd(), show ? ui::SW_SHOWNA : ui::SW_HIDE);
    return 0;
  });
}

void CPlaybackManager::releaseSession() {
  // The session goes away right after this while the window closes later:
  // the player stops and lets go of it now.
  if (CPreviewer* cell = player()) cell->detachDevice();
}

void CPlaybackManager::onDockGone() {
  // The cell's window ended before this one and deleted its object.
  player_.store(nullptr, std::memory_order_release);
}

ui::LRESULT CPlaybackManager::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  switch (msg) {
    case ui::WM_CREATE: return onCreate();
    case ui::WM_DESTROY: releasePlayer(); return 0;
    case ui::WM_MOVE:
      // A paused picture is drawn again at the new place.
      if (CPreviewer* cell = player(); cell != nullptr && cell->hwnd() != 0)
        ui::postMessage(cell->hwnd(), ui::WM_MOVE, 0, 0);
      return 0;
    case ui::WM_SIZE:
      if (CPreviewer* cell = player(); cell != nullptr && cell->hwnd() != 0) {
        const ui::Rect client = ui::getClientRect(hwnd());
        ui::moveWindow(cell->hwnd(), 0, 0, client.width(), client.height(), true);
      }
      return 0;
    case ui::WM_PAINT: onPaint(); return 0;
    case ui::WM_ERASEBKGND: return 1;
    case ui::WM_CLOSE: destroyWindow(); return 0;
    case ui::WM_WINDOWPOSCHANGING: keepShownState(reinterpret_cast<ui::WINDOWPOS*>(lParam)); return 0;
    case MsgCellSelected:
      if (docked() && ownerWindow() != 0) ui::setForegroundWindow(ownerWindow());
      return 0;
    default: return defaultHandle(msg, wParam, lParam);
  }
}

ui::LRESULT CPlaybackManager::onCreate() {
  const ui::HFONT font = adoptCreatedWindow();
  auto* cell = new (std::nothrow) CPreviewer(0, false, sharedServices());
  if (cell == nullptr) return 0;
  cell->setPlaybackMark();
  cell->setDevice(session());
  if (cell->createCell(hwnd(), true) == 0) {
    delete cell;
    return 0;
  }
  cell->setFont(font, true);
  const ui::Rect client = ui::getClientRect(hwnd());
  ui::moveWindow(cell->hwnd(), 0, 0, client.width(), client.height(), true);
  player_.store(cell, std::memory_order_release);
  return 0;
}

void CPlaybackManager::onPaint() {
  ui::PaintScope paint(hwnd());
  if (!paint.valid()) return;
  paint.dc().fillRect(ui::getClientRect(hwnd()), ui::RGB(255, 255, 255));
}

}  // namespace ksplugs
