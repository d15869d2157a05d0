#include "platform/ui/StaticLabel.h"

#include "platform/ui/DeviceContext.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowApi.h"

namespace ui {

HWND StaticLabel::createLabel(HWND parent, const Rect& rect, std::string_view text, uint32_t style) {
  setNoClassBackground();
  return create(parent, rect, text, style | WS_CHILD, 0, "Static");
}

LRESULT StaticLabel::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint fills the background with the parent's brush
    case WM_SETTEXT: {
      LRESULT r = defaultHandle(msg, wParam, lParam);
      invalidateRect(hwnd(), nullptr, true);
      return r;
    }
    default:
      return defaultHandle(msg, wParam, lParam);
  }
}

void StaticLabel::paint() {
  HWND self = hwnd();
  PaintScope ps(self);
  if (!ps.valid()) return;
  DeviceContext& dc = ps.dc();
  Rect client = getClientRect(self);
  dc.selectFont(static_cast<HFONT>(sendMessage(WM_GETFONT)));
  dc.setTextColor(RGB(0, 0, 0));
  dc.setBkMode(OPAQUE);
  HWND parent = getParent(self);
  HBRUSH brush = 0;
  if (parent && parent != kDesktopWindow) {
    brush = static_cast<HBRUSH>(ui::sendMessage(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(&dc), self));
  }
  if (!isBrush(brush)) brush = createSolidBrush(RGB(240, 240, 240));
  dc.setBkColor(brushColor(brush));
  dc.fillRect(client, brush);
  uint32_t style = getWindowStyle(self);
  UINT format = DT_NOPREFIX;
  if ((style & 0x3) == SS_CENTER) format |= DT_CENTER;
  else if ((style & 0x3) == SS_RIGHT) format |= DT_RIGHT;
  format |= (style & SS_CENTERIMAGE) ? (DT_SINGLELINE | DT_VCENTER) : DT_WORDBREAK;
  dc.drawText(getWindowText(self), client, format);
}

}  // namespace ui
