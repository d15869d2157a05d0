#include "plugin/video/live/CPlayerWnd.h"

#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowApi.h"
#include "plugin/video/VideoMessages.h"
#include "plugin/video/live/CPreviewer.h"

namespace ksplugs {

CPlayerWnd::CPlayerWnd() { setNoClassBackground(); }

ui::LRESULT CPlayerWnd::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  const ui::HWND cell = ui::getParent(hwnd());
  switch (msg) {
    case ui::WM_MOUSEMOVE:
    case ui::WM_LBUTTONDOWN:
    case ui::WM_LBUTTONUP:
    case ui::WM_RBUTTONDOWN:
      return ui::sendMessage(cell, msg, wParam, lParam);
    case ui::WM_RBUTTONUP:
    case ui::WM_CONTEXTMENU:
    case ui::WM_KEYUP:
    case MsgVideoSizeChanged:
      ui::postMessage(cell, msg, wParam, lParam);
      return 0;
    case ui::WM_LBUTTONDBLCLK:
      return ui::sendMessage(cell, MsgCellDoubleClick, 0, lParam);
    case ui::WM_SETFOCUS:
      return 0;
    case ui::WM_PAINT:
      onPaint();
      return 0;
    case ui::WM_ERASEBKGND:
      return 1;
    default:
      return defaultHandle(msg, wParam, lParam);
  }
}

void CPlayerWnd::onPaint() {
  ui::PaintScope paint(hwnd());
  if (!paint.valid()) return;
  // The paint scope draws into the window's image and shows it once at its
  // end, so the fill never shows half done.
  paint.dc().fillRect(ui::getClientRect(hwnd()), CPreviewer::kBackground);
}

}  // namespace ksplugs
