#pragma once
// A static text label: a child window that paints its title in its font.
// Before painting it asks its parent with WM_CTLCOLORSTATIC (wParam = the
// DeviceContext*, lParam = the label) so the parent can set text colour and
// background mode; the brush the parent answers fills the background.
// Styles: SS_LEFT, SS_CENTER, SS_RIGHT, SS_CENTERIMAGE (one line, centred
// vertically).
#include <string_view>

#include "platform/ui/Window.h"

namespace ui {

class StaticLabel : public Window {
 public:
  HWND createLabel(HWND parent, const Rect& rect, std::string_view text, uint32_t style = WS_CHILD | WS_VISIBLE);
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void paint();
};

}  // namespace ui
