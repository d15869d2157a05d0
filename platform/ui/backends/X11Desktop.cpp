#include "platform/ui/backends/X11Desktop.h"

#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/ui/Messages.h"
#include "platform/ui/backends/X11ShmPixels.h"
#include "platform/ui/backends/ZenitySaveDialog.h"

namespace ui {

namespace {

constexpr uint32_t kTopLevelEvents =
    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_BUTTON_PRESS |
    XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW |
    XCB_EVENT_MASK_LEAVE_WINDOW | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
// Children only repaint; pointer and key events rise to their top-level
// window, which is all the input sink needs to know.
constexpr uint32_t kChildEvents = XCB_EVENT_MASK_EXPOSURE;

// ICCCM constants.
constexpr uint32_t kStaticGravity = 10;
constexpr uint32_t kSizeHintFlags =
    1 /*USPosition*/ | 2 /*USSize*/ | 4 /*PPosition*/ | 8 /*PSize*/ | 512 /*PWinGravity*/;
// _NET_WM_STATE actions and the source of our requests (a pager-like tool
// acting for the user, so the window manager does not second-guess it).
constexpr uint32_t kStateRemove = 0;
constexpr uint32_t kStateAdd = 1;
constexpr uint32_t kSourcePager = 2;

uint16_t extent(int v) { return static_cast<uint16_t>(std::clamp(v, 1, 32767)); }

// Glyphs of the core "cursor" font.
uint16_t cursorGlyph(CursorShape shape) {
  switch (shape) {
    case CursorShape::Arrow:
      return 68;  // left_ptr
    case CursorShape::SizeAll:
      return 52;  // fleur
    case CursorShape::SizeWE:
      return 108;  // sb_h_double_arrow
    case CursorShape::SizeNS:
      return 116;  // sb_v_double_arrow
    case CursorShape::SizeNWSE:
      return 14;  // bottom_right_corner
    case CursorShape::SizeNESW:
      return 12;  // bottom_left_corner
    case CursorShape::Hand:
      return 60;  // hand2
    case CursorShape::Cross:
      return 34;  // crosshair
  }
  return 68;
}

}  // namespace

// ---------------------------------------------------------------- life cycle

std::unique_ptr<X11Desktop> X11Desktop::open(const X11Options& options, std::string* error) {
  std::unique_ptr<X11Connection> x = X11Connection::open(options.display, error);
  if (!x) return nullptr;
  X11Options effective = options;
  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(x->get(), &xcb_shm_id);
  if (!shm || !shm->present) effective.useShm = false;
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(x), effective));
}

X11Desktop::X11Desktop(std::unique_ptr<X11Connection> x, const X11Options& options)
    : x_(std::move(x)), options_(options), keyboard_(x_->get()) {
  xcb_connection_t* c = x_->get();
  gc_ = xcb_generate_id(c);
  uint32_t noExposures = 0;
  xcb_create_gc(c, gc_, x_->root(), XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
  wakeWindow_ = xcb_generate_id(c);
  xcb_create_window(c, 0, wakeWindow_, x_->root(), -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                    0, nullptr);
  confineWindow_ = xcb_generate_id(c);
  const uint32_t unmanaged = 1;
  xcb_create_window(c, 0, confineWindow_, x_->root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &unmanaged);
  // Raw key events (XInput 2.0) let the key hooks see keys typed into any
  // window without taking them from it.
  const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
  if (xinput && xinput->present) {
    auto* version = xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 0), nullptr);
    if (version && version->major_version >= 2) xinputOpcode_ = xinput->major_opcode;
    free(version);
  }
  // The resource database on the root (Xft.dpi) and the screen
  // configuration decide the dots per inch; their changes are watched.
  const uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c, x_->root(), XCB_CW_EVENT_MASK, &rootEvents);
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (randr && randr->present) {
    randrEventBase_ = randr->first_event;
    xcb_randr_select_input(c, x_->root(), XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
  }
  dpi_ = dpiForWindow(0);
  xcb_flush(c);
  eventThread_ = std::thread([this] { eventLoop(); });
}

X11Desktop::~X11Desktop() {
  xcb_connection_t* c = x_->get();
  // With no event mask, SendEvent delivers to the window's creator: us.
  xcb_client_message_event_t wake{};
  wake.response_type = XCB_CLIENT_MESSAGE;
  wake.format = 32;
  wake.window = wakeWindow_;
  wake.type = x_->atoms().KESTROVA_WAKE;
  xcb_send_event(c, 0, wakeWindow_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&wake));
  xcb_flush(c);
  if (eventThread_.joinable()) eventThread_.join();

  std::map<HWND, Native> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(natives_);
    byXid_.clear();
  }
  for (auto& [h, n] : left) {
    if (!n.parent) xcb_destroy_window(c, n.xid);
  }
  left.clear();  // surfaces detach their segments
  for (auto& [shape, cursor] : cursors_) xcb_free_cursor(c, cursor);
  xcb_free_gc(c, gc_);
  xcb_destroy_window(c, wakeWindow_);
  xcb_destroy_window(c, confineWindow_);
  xcb_flush(c);
}

void X11Desktop::attach(InputSink* sink) {
  std::lock_guard lock(sinkMutex_);
  sink_ = sink;
}

// ---------------------------------------------------------------- lookup

xcb_window_t X11Desktop::xidOfLocked(HWND hwnd) {
  if (isForeignHandle(hwnd)) return hwnd & ~kForeignHandleBit;
  auto it = natives_.find(hwnd);
  return it == natives_.end() ? 0 : it->second.xid;
}

HWND X11Desktop::handleOf(xcb_window_t xid) {
  std::lock_guard lock(mutex_);
  auto it = byXid_.find(xid);
  return it != byXid_.end() ? it->second : (xid | kForeignHandleBit);
}

xcb_window_t X11Desktop::xWindowOf(HWND hwnd) {
  if (isForeignHandle(hwnd)) return 0;
  std::lock_guard lock(mutex_);
  return xidOfLocked(hwnd);
}

std::shared_ptr<X11Surface> X11Desktop::surfaceOf(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = natives_.find(hwnd);
  return it == natives_.end() ? nullptr : it->second.surface;
}

bool X11Desktop::presentsShared(HWND hwnd) {
  auto s = surfaceOf(hwnd);
  return s && s->shared();
}

bool X11Desktop::presentsWindowMemory(HWND hwnd) {
  auto s = surfaceOf(hwnd);
  return s && s->showsWindowMemory();
}

void X11Desktop::sync() {
  // The server answers requests of one connection in order: once this reply
  // is here, everything sent before it has been carried out.
  xcb_connection_t* c = x_->get();
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// ---------------------------------------------------------------- our windows

void X11Desktop::applyTopLevelProperties(xcb_window_t xid, const SurfaceDesc& desc, bool mapped) {
  X11Connection& x = *x_;
  const X11Atoms& a = x.atoms();
  x.setBytes(xid, a._NET_WM_NAME, a.UTF8_STRING, desc.title);
  x.setBytes(xid, XCB_ATOM_WM_NAME, a.UTF8_STRING, desc.title);
  std::string wmClass = (desc.className.empty() ? std::string("kestrova") : desc.className);
  wmClass.append(1, '\0').append("Kestrova").append(1, '\0');
  x.setBytes(xid, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
  x.setCardinals(xid, a._NET_WM_PID, XCB_ATOM_CARDINAL, {static_cast<uint32_t>(::getpid())});
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) x.setBytes(xid, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host);
  x.setCardinals(xid, a.WM_PROTOCOLS, XCB_ATOM_ATOM, {a.WM_DELETE_WINDOW});

  xcb_window_t owner = 0;
  {
    std::lock_guard lock(mutex_);
    if (desc.owner) owner = xidOfLocked(desc.owner);
  }
  if (owner) {
    x.setCardinals(xid, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, {owner});
  } else {
    xcb_delete_property(x.get(), xid, XCB_ATOM_WM_TRANSIENT_FOR);
  }
  bool utility = owner || (desc.exStyle & WS_EX_TOOLWINDOW);
  x.setCardinals(xid, a._NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM,
                 {utility ? a._NET_WM_WINDOW_TYPE_UTILITY : a._NET_WM_WINDOW_TYPE_NORMAL});
  // Our windows draw no frame of their own: no decorations (flags: decorations given, none).
  x.setCardinals(xid, a._MOTIF_WM_HINTS, a._MOTIF_WM_HINTS, {2, 0, 0, 0, 0});
  // WM_HINTS: takes input, starts normal.
  x.setCardinals(xid, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, {1 | 2, 1, 1, 0, 0, 0, 0, 0, 0});
  // The asked position is the client's: user-given, static gravity.
  std::vector<uint32_t> sizeHints(18, 0);
  sizeHints[0] = kSizeHintFlags;
  sizeHints[1] = static_cast<uint32_t>(desc.rect.left);
  sizeHints[2] = static_cast<uint32_t>(desc.rect.top);
  sizeHints[3] = static_cast<uint32_t>(std::max(desc.rect.width(), 1));
  sizeHints[4] = static_cast<uint32_t>(std::max(desc.rect.height(), 1));
  sizeHints[17] = kStaticGravity;
  x.setCardinals(xid, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, sizeHints);

  bool topmost = desc.exStyle & WS_EX_TOPMOST;
  if (!mapped) {
    // Read by the window manager when the window is mapped.
    std::vector<uint32_t> state{a._NET_WM_STATE_SKIP_PAGER};
    if (!(desc.exStyle & WS_EX_APPWINDOW)) state.push_back(a._NET_WM_STATE_SKIP_TASKBAR);
    if (topmost) state.push_back(a._NET_WM_STATE_ABOVE);
    x.setCardinals(xid, a._NET_WM_STATE, XCB_ATOM_ATOM, state);
    // A dock appearing over its browser must not take the browser's focus.
    if (owner) x.setCardinals(xid, a._NET_WM_USER_TIME, XCB_ATOM_CARDINAL, {0});
  } else {
    x.sendRootMessage(xid, a._NET_WM_STATE, topmost ? kStateAdd : kStateRemove, a._NET_WM_STATE_ABOVE, 0, kSourcePager);
  }
}

void X11Desktop::surfaceCreated(const SurfaceDesc& desc) {
  surfaceDestroyed(desc.hwnd);
  xcb_connection_t* c = x_->get();
  xcb_window_t parentXid = x_->root();
  uint32_t cursor = 0;
  {
    std::lock_guard lock(mutex_);
    // A child of a window the desktop does not know has nowhere to go.
    if (desc.parent) {
      parentXid = xidOfLocked(desc.parent);
      if (!parentXid || isForeignHandle(desc.parent)) return;
    } else {
      auto it = cursors_.find(cursorShape_);
      if (it != cursors_.end()) cursor = it->second;
    }
  }
  xcb_window_t xid = xcb_generate_id(c);
  // No background: the server leaves the window alone and Expose repaints
  // it from the shadow, so nothing flashes.
  uint32_t mask = XCB_CW_BACK_PIXMAP | XCB_CW_BIT_GRAVITY | XCB_CW_EVENT_MASK | (cursor ? XCB_CW_CURSOR : 0);
  uint32_t values[] = {XCB_BACK_PIXMAP_NONE, XCB_GRAVITY_NORTH_WEST, desc.parent ? kChildEvents : kTopLevelEvents,
                       cursor};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, xid, parentXid, clampCoord(desc.rect.left), clampCoord(desc.rect.top),
                    extent(desc.rect.width()), extent(desc.rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    x_->screen()->root_visual, mask, values);
  if (!desc.parent) applyTopLevelProperties(xid, desc, false);
  auto surface = std::make_shared<X11Surface>(*x_, xid, gc_, options_.useShm, desc.rect.width(), desc.rect.height());
  {
    std::lock_guard lock(mutex_);
    Native& n = natives_[desc.hwnd];
    n.hwnd = desc.hwnd;
    n.parent = desc.parent;
    n.xid = xid;
    n.desc = desc;
    n.surface = std::move(surface);
    byXid_[xid] = desc.hwnd;
  }
  if (desc.style & WS_VISIBLE) xcb_map_window(c, xid);
  xcb_flush(c);
}

void X11Desktop::surfaceChanged(const SurfaceDesc& desc) {
  // A window that moves or goes may change which monitor holds a window:
  // the dots per inch are looked up again. (A new window goes through
  // surfaceDestroyed first.)
  dpiGeneration_.fetch_add(1);
  SurfaceDesc old;
  xcb_window_t xid = 0;
  std::shared_ptr<X11Surface> surface;
  {
    std::lock_guard lock(mutex_);
    auto it = natives_.find(desc.hwnd);
    if (it == natives_.end()) return;
    old = it->second.desc;
    it->second.desc = desc;
    xid = it->second.xid;
    surface = it->second.surface;
  }
  xcb_connection_t* c = x_->get();
  bool wasVisible = old.style & WS_VISIBLE;
  bool visible = desc.style & WS_VISIBLE;
  if (!desc.parent) {
    bool propertiesChanged = old.title != desc.title || old.owner != desc.owner || old.className != desc.className ||
                             ((old.exStyle ^ desc.exStyle) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
    // Before mapping, the size hints carry the position the window manager should use.
    if (propertiesChanged || (visible && !wasVisible)) applyTopLevelProperties(xid, desc, wasVisible);
  }
  if (old.rect != desc.rect) {
    uint32_t values[] = {static_cast<uint32_t>(clampCoord(desc.rect.left)),
                         static_cast<uint32_t>(clampCoord(desc.rect.top)), extent(desc.rect.width()),
                         extent(desc.rect.height())};
    xcb_configure_window(
        c, xid, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    surface->resize(desc.rect.width(), desc.rect.height());
  }
  if (visible && !wasVisible) xcb_map_window(c, xid);
  if (!visible && wasVisible) xcb_unmap_window(c, xid);
  // Minimising and maximising our own windows is not passed to the window
  // manager yet: the window system keeps those states itself.
  xcb_flush(c);
}

void X11Desktop::surfaceRestacked(HWND hwnd, HWND insertAfter) {
  xcb_window_t xid = 0;
  xcb_window_t sibling = 0;
  xcb_window_t owner = 0;
  bool topLevel = false;
  uint32_t mode = XCB_STACK_MODE_ABOVE;
  {
    std::lock_guard lock(mutex_);
    auto it = natives_.find(hwnd);
    if (it == natives_.end()) return;
    xid = it->second.xid;
    topLevel = it->second.parent == 0;
    if (topLevel && it->second.desc.owner) owner = xidOfLocked(it->second.desc.owner);
    if (insertAfter == HWND_BOTTOM) {
      mode = XCB_STACK_MODE_BELOW;
    } else if (insertAfter != HWND_TOP && insertAfter != HWND_TOPMOST && insertAfter != HWND_NOTOPMOST) {
      sibling = xidOfLocked(insertAfter);
      if (!sibling) return;
      mode = XCB_STACK_MODE_BELOW;
    }
  }
  // An owned window stays above its owner: "below the owner" or "bottom"
  // becomes "right above the owner".
  if (owner && mode == XCB_STACK_MODE_BELOW && (sibling == owner || sibling == 0)) {
    sibling = owner;
    mode = XCB_STACK_MODE_ABOVE;
  }
  xcb_connection_t* c = x_->get();
  if (topLevel && x_->hasWindowManager()) {
    x_->sendRootMessage(xid, x_->atoms()._NET_RESTACK_WINDOW, kSourcePager, sibling, mode);
  } else if (sibling) {
    uint32_t values[] = {sibling, mode};
    xcb_configure_window(c, xid, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
  } else {
    xcb_configure_window(c, xid, XCB_CONFIG_WINDOW_STACK_MODE, &mode);
  }
  xcb_flush(c);
}

void X11Desktop::forgetLocked(HWND hwnd) {
  auto it = natives_.find(hwnd);
  if (it == natives_.end()) return;
  byXid_.erase(it->second.xid);
  natives_.erase(it);
}

void X11Desktop::surfaceDestroyed(HWND hwnd) {
  dpiGeneration_.fetch_add(1);
  // The X server destroys the subwindows with their parent; the table
  // forgets the whole subtree too, as the headless desktop does.
  std::vector<std::shared_ptr<X11Surface>> released;
  xcb_window_t xid = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = natives_.find(hwnd);
    if (it == natives_.end()) return;
    xid = it->second.xid;
    std::set<HWND> gone{hwnd};
    for (bool grew = true; grew;) {
      grew = false;
      for (auto& [h, n] : natives_) {
        if (n.parent && gone.count(n.parent) && gone.insert(h).second) grew = true;
      }
    }
    for (HWND h : gone) {
      released.push_back(natives_[h].surface);
      forgetLocked(h);
    }
  }
  xcb_destroy_window(x_->get(), xid);
  xcb_flush(x_->get());
  released.clear();  // outside the lock: each waits for its last copy
}

std::shared_ptr<PixelMemory> X11Desktop::allocatePixels(int stride, int rows) {
  // Memory the server reads itself, so presenting copies nothing here. A
  // server that refuses one segment refuses them all; running short of
  // segments here is only for now.
  if (options_.useShm && !shmRefused_.load()) {
    bool refused = false;
    if (auto segment = X11ShmPixels::create(*x_, stride, rows, &refused)) return segment;
    if (refused) shmRefused_.store(true);
  }
  return PixelMemory::allocate(stride, rows);
}

void X11Desktop::present(HWND hwnd, const ImageView& image, const Rect& dirty) {
  if (auto surface = surfaceOf(hwnd)) surface->present(image, dirty);
}

void X11Desktop::setForeground(HWND hwnd) {
  xcb_window_t xid = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = natives_.find(hwnd);
    if (it == natives_.end() || it->second.parent) return;
    xid = it->second.xid;
  }
  xcb_connection_t* c = x_->get();
  if (x_->hasWindowManager()) {
    x_->sendRootMessage(xid, x_->atoms()._NET_ACTIVE_WINDOW, kSourcePager, XCB_CURRENT_TIME);
  } else {
    uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, xid, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    // An unmapped window answers BadMatch, which the event thread drops.
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, xid, XCB_CURRENT_TIME);
  }
  xcb_flush(c);
}

// ---------------------------------------------------------------- pointer

Point X11Desktop::cursorPos() {
  xcb_connection_t* c = x_->get();
  xcb_query_pointer_reply_t* r = xcb_query_pointer_reply(c, xcb_query_pointer(c, x_->root()), nullptr);
  if (!r) return {};
  Point p{r->root_x, r->root_y};
  free(r);
  return p;
}

void X11Desktop::setCursorShape(CursorShape shape) {
  xcb_connection_t* c = x_->get();
  std::vector<xcb_window_t> tops;
  uint32_t cursor = 0;
  {
    std::lock_guard lock(mutex_);
    if (cursorShape_ == shape && cursors_.count(shape)) return;
    cursorShape_ = shape;
    auto it = cursors_.find(shape);
    if (it == cursors_.end()) {
      xcb_font_t font = xcb_generate_id(c);
      xcb_open_font(c, font, 6, "cursor");
      cursor = xcb_generate_id(c);
      uint16_t glyph = cursorGlyph(shape);
      xcb_create_glyph_cursor(c, cursor, font, font, glyph, glyph + 1, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF);
      xcb_close_font(c, font);
      cursors_[shape] = cursor;
    } else {
      cursor = it->second;
    }
    for (auto& [h, n] : natives_) {
      if (!n.parent) tops.push_back(n.xid);
    }
  }
  // Children have no cursor of their own and show their top-level window's.
  for (xcb_window_t w : tops) xcb_change_window_attributes(c, w, XCB_CW_CURSOR, &cursor);
  xcb_flush(c);
}

void X11Desktop::clipCursor(const std::optional<Rect>& rect) {
  {
    std::lock_guard lock(mutex_);
    clip_ = rect;
  }
  if (!rect || rect->isEmpty()) {
    releaseConfinement();
    return;
  }
  // While a button is down the server already holds the pointer for us
  // (the implicit grab of the press); turning that into a grab confined to
  // the rectangle takes nothing from other clients. The grab ends with the
  // last button, whoever forgets to lift the clip. With no button down the
  // pointer is only moved into the rectangle, now and whenever it leaves it
  // over one of our windows.
  xcb_connection_t* c = x_->get();
  auto buttonDown = [this, c] {
    auto* pointer = xcb_query_pointer_reply(c, xcb_query_pointer(c, x_->root()), nullptr);
    const bool down = pointer && (pointer->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3));
    free(pointer);
    return down;
  };
  if (buttonDown()) {
    const uint32_t place[] = {static_cast<uint32_t>(clampCoord(rect->left)), static_cast<uint32_t>(clampCoord(rect->top)),
                              extent(rect->width()), extent(rect->height()), XCB_STACK_MODE_BELOW};
    xcb_configure_window(c, confineWindow_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                         place);
    xcb_map_window(c, confineWindow_);
    const uint16_t events = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;
    auto* grab = xcb_grab_pointer_reply(c,
                                        xcb_grab_pointer(c, 1, confineWindow_, events, XCB_GRAB_MODE_ASYNC,
                                                         XCB_GRAB_MODE_ASYNC, confineWindow_, XCB_NONE,
                                                         XCB_CURRENT_TIME),
                                        nullptr);
    const bool grabbed = grab && grab->status == XCB_GRAB_STATUS_SUCCESS;
    free(grab);
    if (grabbed) {
      {
        std::lock_guard lock(mutex_);
        confined_ = true;
      }
      // A button that came up before the grab took hold ends it too.
      if (!buttonDown()) releaseConfinement();
      return;
    }
    xcb_unmap_window(c, confineWindow_);
  }
  Point p = cursorPos();
  Point in{std::clamp(p.x, rect->left, rect->right - 1), std::clamp(p.y, rect->top, rect->bottom - 1)};
  if (in == p) return;
  xcb_warp_pointer(x_->get(), XCB_NONE, x_->root(), 0, 0, 0, 0, clampCoord(in.x), clampCoord(in.y));
  xcb_flush(x_->get());
}

void X11Desktop::releaseConfinement() {
  {
    std::lock_guard lock(mutex_);
    if (!confined_) return;
    confined_ = false;
  }
  // Checked, so the pointer is free before the caller goes on.
  free(xcb_request_check(x_->get(), xcb_ungrab_pointer_checked(x_->get(), XCB_CURRENT_TIME)));
  xcb_unmap_window(x_->get(), confineWindow_);
  xcb_flush(x_->get());
}

std::optional<Rect> X11Desktop::cursorClip() {
  std::lock_guard lock(mutex_);
  return clip_;
}

// ---------------------------------------------------------------- services

UINT X11Desktop::trackPopupMenu(HWND, const std::vector<MenuItemView>& items, Point screen) {
  if (items.empty()) return 0;
  Rect bounds = pickMonitor(monitors(), screen, true).bounds;
  auto menu = std::make_shared<X11PopupMenu>(*x_, gc_, options_.useShm, items, screen, bounds);
  {
    std::lock_guard lock(mutex_);
    if (menu_) return 0;  // one menu at a time, as the pointer grab allows
    menu_ = menu;
  }
  // The calling thread waits here as in a modal menu loop; the event thread
  // drives the menu.
  UINT chosen = menu->open() ? menu->waitForChoice() : 0;
  std::lock_guard lock(mutex_);
  menu_.reset();
  return chosen;
}

std::optional<std::string> X11Desktop::saveFileDialog(const SaveDialogRequest& request) {
  // Without zenity installed the dialog counts as cancelled.
  return runZenitySaveDialog(request, x_->displayName().c_str());
}

void X11Desktop::setKeyHookActive(bool active) {
  // Without XInput 2 the hooks see keys only while one of our windows has the focus.
  if (!xinputOpcode_) return;
  keyHookActive_ = active;
  struct {
    xcb_input_event_mask_t head;
    uint32_t bits;
  } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
         active ? uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE} : 0};
  // Waits for the server, so keys pressed after this call reach the hooks.
  free(xcb_request_check(x_->get(), xcb_input_xi_select_events_checked(x_->get(), x_->root(), 1, &mask.head)));
}

}  // namespace ui
