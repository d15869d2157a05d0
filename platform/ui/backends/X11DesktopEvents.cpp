// X11Desktop: the event thread. It blocks in xcb_wait_for_event and turns
// what arrives into repaints from the shadows and InputSink calls.
#include <xcb/randr.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>

#include "platform/ui/backends/X11Desktop.h"

namespace ui {

void X11Desktop::eventLoop() {
  xcb_connection_t* c = x_->get();
  // Null: the connection broke (the server went away); nothing more comes.
  while (xcb_generic_event_t* ev = xcb_wait_for_event(c)) {
    bool wake = false;
    if ((ev->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
      auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
      wake = cm->window == wakeWindow_ && cm->type == x_->atoms().KESTROVA_WAKE;
    }
    if (!wake) onEvent(ev);
    free(ev);
    if (wake) break;
  }
}

bool X11Desktop::onMenuEvent(xcb_generic_event_t* ev) {
  std::shared_ptr<X11PopupMenu> menu;
  {
    std::lock_guard lock(mutex_);
    menu = menu_;
  }
  if (!menu) return false;
  const uint8_t type = ev->response_type & 0x7F;
  switch (type) {
    case XCB_EXPOSE: {
      auto* e = reinterpret_cast<xcb_expose_event_t*>(ev);
      if (e->window != menu->window()) return false;
      menu->onExpose(Rect::fromSize(e->x, e->y, e->width, e->height));
      return true;
    }
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE: {
      auto* e = reinterpret_cast<xcb_button_press_event_t*>(ev);
      if (e->event != menu->window()) return false;
      if (e->detail <= XCB_BUTTON_INDEX_3) menu->onButton({e->event_x, e->event_y}, type == XCB_BUTTON_PRESS);
      return true;
    }
    case XCB_MOTION_NOTIFY: {
      auto* e = reinterpret_cast<xcb_motion_notify_event_t*>(ev);
      if (e->event != menu->window()) return false;
      menu->onMotion({e->event_x, e->event_y});
      return true;
    }
    case XCB_KEY_PRESS: {
      auto* e = reinterpret_cast<xcb_key_press_event_t*>(ev);
      if (e->event != menu->window()) return false;
      menu->onKey(keyboard_.virtualKey(e->detail));
      return true;
    }
    default:
      return false;
  }
}

void X11Desktop::onEvent(xcb_generic_event_t* ev) {
  if (onMenuEvent(ev)) return;
  switch (ev->response_type & 0x7F) {
    case 0:
      // An error of a request that nobody checked: mostly a foreign window
      // that closed between two requests. Nothing to do.
      break;
    case XCB_EXPOSE: {
      auto* e = reinterpret_cast<xcb_expose_event_t*>(ev);
      HWND h = handleOf(e->window);
      if (auto surface = isForeignHandle(h) ? nullptr : surfaceOf(h)) {
        surface->repaint(Rect::fromSize(e->x, e->y, e->width, e->height));
      }
      break;
    }
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE: {
      auto* e = reinterpret_cast<xcb_button_press_event_t*>(ev);
      const bool down = (ev->response_type & 0x7F) == XCB_BUTTON_PRESS;
      // The state is from before the event: the last button up ends a
      // confinement, before anyone hears of the release.
      const uint16_t buttons = XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3;
      const uint16_t released = e->detail >= 1 && e->detail <= 3 ? XCB_BUTTON_MASK_1 << (e->detail - 1) : 0;
      if (!down && (e->state & buttons & ~released) == 0) releaseConfinement();
      onButton(e->event, e->root_x, e->root_y, e->event_x, e->event_y, e->detail, down);
      break;
    }
    case XCB_MOTION_NOTIFY: {
      auto* e = reinterpret_cast<xcb_motion_notify_event_t*>(ev);
      deliverMouse(e->event, {e->root_x, e->root_y}, {e->event_x, e->event_y}, MouseAction::Move);
      break;
    }
    case XCB_ENTER_NOTIFY: {
      auto* e = reinterpret_cast<xcb_enter_notify_event_t*>(ev);
      deliverMouse(e->event, {e->root_x, e->root_y}, {e->event_x, e->event_y}, MouseAction::Move);
      break;
    }
    case XCB_LEAVE_NOTIFY: {
      // Leaving for a foreign window or the bare desktop: the pointer is
      // over none of our windows now.
      auto* e = reinterpret_cast<xcb_leave_notify_event_t*>(ev);
      if (e->detail == XCB_NOTIFY_DETAIL_INFERIOR || e->mode != XCB_NOTIFY_MODE_NORMAL) break;
      std::lock_guard lock(sinkMutex_);
      if (sink_) sink_->mouseInput(0, {e->root_x, e->root_y}, MouseAction::Move);
      break;
    }
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
      // While a key hook listens, every key comes through the raw events,
      // those typed into our windows too, so none arrives twice.
      if (xinputOpcode_ && keyHookActive_) break;
      auto* e = reinterpret_cast<xcb_key_press_event_t*>(ev);
      deliverKey(e->detail, (ev->response_type & 0x7F) == XCB_KEY_PRESS);
      break;
    }
    case XCB_GE_GENERIC: {
      auto* e = reinterpret_cast<xcb_ge_generic_event_t*>(ev);
      bool raw = e->event_type == XCB_INPUT_RAW_KEY_PRESS || e->event_type == XCB_INPUT_RAW_KEY_RELEASE;
      if (!xinputOpcode_ || e->extension != xinputOpcode_ || !raw || !keyHookActive_) break;
      auto* key = reinterpret_cast<xcb_input_raw_key_press_event_t*>(ev);
      deliverKey(static_cast<xcb_keycode_t>(key->detail), e->event_type == XCB_INPUT_RAW_KEY_PRESS);
      break;
    }
    case XCB_MAPPING_NOTIFY: {
      auto* e = reinterpret_cast<xcb_mapping_notify_event_t*>(ev);
      if (e->request == XCB_MAPPING_KEYBOARD) keyboard_.reload();
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      auto* e = reinterpret_cast<xcb_property_notify_event_t*>(ev);
      if (e->window == x_->root() && e->atom == XCB_ATOM_RESOURCE_MANAGER) checkDpi();
      break;
    }
    case XCB_CLIENT_MESSAGE:
      // WM_DELETE_WINDOW: our windows close when their owners close them,
      // not from a window manager's close button.
      break;
    default:
      if (randrEventBase_ && (ev->response_type & 0x7F) == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY) {
        checkDpi();
        break;
      }
      // ConfigureNotify and the rest: the window system keeps the geometry
      // it asked for; the window manager honours it (static gravity).
      break;
  }
}

void X11Desktop::onButton(xcb_window_t w, int16_t rootX, int16_t rootY, int16_t x, int16_t y, uint8_t button,
                          bool down) {
  MouseAction action;
  if (button == XCB_BUTTON_INDEX_1) {
    action = down ? MouseAction::LeftDown : MouseAction::LeftUp;
  } else if (button == XCB_BUTTON_INDEX_3) {
    action = down ? MouseAction::RightDown : MouseAction::RightUp;
  } else {
    // The middle button and the wheel (buttons 4 to 7) have no message in the window layer.
    return;
  }
  deliverMouse(w, {rootX, rootY}, {x, y}, action);
}

void X11Desktop::deliverMouse(xcb_window_t w, Point screen, Point local, MouseAction action) {
  HWND top = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = byXid_.find(w);
    if (it == byXid_.end()) return;
    const Native& n = natives_[it->second];
    // While a button is held the server keeps sending to the window it went
    // down on; outside it the pointer is over no window of ours.
    if (!n.parent && Rect{0, 0, n.desc.rect.width(), n.desc.rect.height()}.contains(local)) top = n.hwnd;
    if (clip_ && !clip_->isEmpty() && !clip_->contains(screen)) {
      Point in{std::clamp(screen.x, clip_->left, clip_->right - 1),
               std::clamp(screen.y, clip_->top, clip_->bottom - 1)};
      xcb_warp_pointer(x_->get(), XCB_NONE, x_->root(), 0, 0, 0, 0, clampCoord(in.x), clampCoord(in.y));
      xcb_flush(x_->get());
      screen = in;
    }
  }
  std::lock_guard lock(sinkMutex_);
  if (sink_) sink_->mouseInput(top, screen, action);
}

void X11Desktop::checkDpi() {
  dpiGeneration_.fetch_add(1);
  const UINT dpi = dpiForWindow(0);
  if (dpi == dpi_) return;
  dpi_ = dpi;
  std::lock_guard lock(sinkMutex_);
  if (sink_) sink_->dpiChanged(dpi);
}

void X11Desktop::deliverKey(xcb_keycode_t code, bool down) {
  UINT vk = keyboard_.virtualKey(code);
  if (!vk) return;
  std::lock_guard lock(sinkMutex_);
  if (sink_) sink_->keyInput(vk, down);
}

}  // namespace ui
