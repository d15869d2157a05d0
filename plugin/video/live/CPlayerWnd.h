#pragma once
// The video surface of a cell: the child window the SDK draws the picture
// into. It passes the mouse on to its cell (sent, so the cell sees the
// press before the next one), posts the right button's release, the context
// menu, key releases and picture-size changes to it, and turns a double
// click into the cell's double-click message.
#include "platform/ui/Window.h"

namespace ksplugs {

class CPlayerWnd : public ui::Window {
 public:
  CPlayerWnd();
  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 private:
  void onPaint();
};

}  // namespace ksplugs
