#include "plugin/video/dock/DockWindow.h"

#include <utility>

#include "platform/ui/WindowApi.h"

namespace ksplugs {

namespace {

constexpr uint32_t kDockStyle = ui::WS_CHILD | ui::WS_VISIBLE | ui::WS_CLIPSIBLINGS | ui::WS_CLIPCHILDREN;

}  // namespace

DockWindow::DockWindow(std::shared_ptr<const VideoServices> services)
    : services_(services ? std::move(services) : std::make_shared<const VideoServices>()) {}

DockWindow::~DockWindow() = default;

ui::HWND DockWindow::createDock(ui::HWND parent, const ui::Rect& rect) {
  const char* name = dockClassName();
  const ui::HWND hwnd = create(parent, rect, std::string_view(name), kDockStyle, ui::WS_EX_TOOLWINDOW, name);
  if (hwnd != 0) noteWindow(hwnd);
  return hwnd;
}

void DockWindow::show() {
  setShown(true);
  if (const ui::HWND hwnd = window()) ui::showWindow(hwnd, ui::SW_SHOWNA);
}

void DockWindow::hide() {
  setShown(false);
  if (const ui::HWND hwnd = window()) ui::showWindow(hwnd, ui::SW_HIDE);
}

void DockWindow::setFont(ui::HFONT font, bool redraw) {
  if (const ui::HWND hwnd = window()) ui::sendMessage(hwnd, ui::WM_SETFONT, font, redraw ? 1 : 0);
}

bool DockWindow::postClose() {
  const ui::HWND hwnd = window();
  if (hwnd == 0) return false;
  ui::sendTask(hwnd, [this] { releaseSession(); });
  session_.store(nullptr, std::memory_order_release);
  selfDelete_.store(true);
  if (ui::postMessage(hwnd, ui::WM_CLOSE)) return true;
  // The window is gone already (its thread ended): the owner deletes us.
  selfDelete_.store(false);
  window_.store(0, std::memory_order_release);
  return false;
}

void DockWindow::keepShownState(ui::WINDOWPOS* pos) const {
  if (pos == nullptr) return;
  pos->flags &= ~ui::SWP_SHOWWINDOW;
  pos->flags |= shown() ? ui::SWP_SHOWWINDOW : ui::SWP_HIDEWINDOW;
}

void DockWindow::onFinalMessage(ui::HWND) {
  onDockGone();
  window_.store(0, std::memory_order_release);
  if (selfDelete_.load()) delete this;
}

ui::HFONT DockWindow::adoptCreatedWindow() {
  noteWindow(hwnd());
  setOwnerWindow(ui::getParent(hwnd()));
  const auto font = static_cast<ui::HFONT>(ui::sendMessage(ownerWindow(), ui::WM_GETFONT));
  defaultHandle(ui::WM_SETFONT, font, 1);
  return font;
}

}  // namespace ksplugs
