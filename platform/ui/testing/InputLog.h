#pragma once
// A window for input tests: logs the mouse, cursor, key, context menu and
// command messages it gets, with their parameters.
#include <vector>

#include "platform/ui/Window.h"

namespace ui::test {

class InputLog : public Window {
 public:
  struct Msg {
    UINT msg;
    WPARAM w;
    LPARAM l;
  };
  std::vector<Msg> log;
  LRESULT setCursorAnswer = -1;  // -1: default processing
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if ((msg >= WM_MOUSEMOVE && msg <= WM_RBUTTONDBLCLK) || msg == WM_SETCURSOR || msg == WM_KEYUP ||
        msg == WM_KEYDOWN || msg == WM_CONTEXTMENU || msg == WM_COMMAND) {
      log.push_back({msg, w, l});
    }
    if (msg == WM_SETCURSOR && setCursorAnswer >= 0) return setCursorAnswer;
    return defaultHandle(msg, w, l);
  }
  std::vector<UINT> ids(bool withCursor = false) const {
    std::vector<UINT> out;
    for (auto& m : log)
      if (withCursor || m.msg != WM_SETCURSOR) out.push_back(m.msg);
    return out;
  }
};

}  // namespace ui::test
