#include "plugin/video/CPlaybackManager.h"

#include <string_view>

#include "platform/ui/WindowApi.h"

namespace ksplugs {
namespace {

constexpr uint32_t kDockStyle = ui::WS_CHILD | ui::WS_VISIBLE | ui::WS_CLIPSIBLINGS | ui::WS_CLIPCHILDREN;

}  // namespace

ui::HWND CPlaybackManager::createDock(ui::HWND parent, const ui::Rect& rect) {
  const ui::HWND hwnd =
      create(parent, rect, std::string_view("CPlaybackManager"), kDockStyle, ui::WS_EX_TOOLWINDOW, "CPlaybackManager");
  window_.store(hwnd, std::memory_order_release);
  return hwnd;
}

void CPlaybackManager::hide() {
  setShown(false);
  if (const ui::HWND hwnd = window()) ui::showWindow(hwnd, ui::SW_HIDE);
}

bool CPlaybackManager::postClose() {
  const ui::HWND hwnd = window();
  if (hwnd == 0) return false;
  // The session goes away with the entry right after this.
  session_.store(nullptr);
  selfDelete_.store(true);
  if (ui::postMessage(hwnd, ui::WM_CLOSE)) return true;
  // The window is gone already (its thread ended): the owner deletes us.
  selfDelete_.store(false);
  window_.store(0);
  return false;
}

ui::LRESULT CPlaybackManager::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  return defaultHandle(msg, wParam, lParam);
}

void CPlaybackManager::onFinalMessage(ui::HWND) {
  window_.store(0, std::memory_order_release);
  if (selfDelete_.load()) delete this;
}

}  // namespace ksplugs
