#pragma once
// One open popup menu of the X11 desktop: an override-redirect window (a
// menu is the one kind of window the window manager must leave alone) with
// the items drawn by Cairo and Pango, holding the pointer and keyboard
// grabs while it is open. The thread that opened it waits in waitForChoice;
// the event thread feeds it pointer and key events until an item is chosen
// or the menu is dismissed (a click outside, Escape).
//
// Threads: the event-thread handlers and waitForChoice/cancel run on
// different threads; mutex_ guards the highlight and the choice.
#include <xcb/xcb.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/backends/X11Surface.h"

namespace ui {

class X11Connection;

class X11PopupMenu {
 public:
  // screen: the menu's top-left corner, moved inside bounds when it would leave them.
  X11PopupMenu(X11Connection& x, xcb_gcontext_t gc, bool useShm, std::vector<MenuItemView> items, Point screen,
               const Rect& bounds);
  ~X11PopupMenu();

  xcb_window_t window() const { return window_; }
  // Maps the window and takes the grabs; false when the grabs were refused
  // (another client holds them), and the menu then counts as dismissed.
  bool open();
  // Blocks until the menu is done: the chosen id, 0 when dismissed.
  UINT waitForChoice();

  // Event thread. Points are in the menu's coordinates.
  void onMotion(Point p);
  void onButton(Point p, bool down);
  void onKey(UINT virtualKey);
  void onExpose(const Rect& r);

 private:
  struct Row {
    int top = 0;
    int height = 0;
  };
  int rowAt(Point p) const;
  bool selectable(int row) const;
  void highlightLocked(int row);
  void finishLocked(UINT id);
  void drawLocked();

  X11Connection& x_;
  const std::vector<MenuItemView> items_;
  std::vector<Row> rows_;
  Rect rect_;  // screen
  xcb_window_t window_ = 0;
  std::unique_ptr<X11Surface> surface_;

  std::mutex mutex_;
  std::condition_variable done_;
  // Guarded by mutex_.
  int highlight_ = -1;
  std::optional<UINT> choice_;
};

}  // namespace ui
