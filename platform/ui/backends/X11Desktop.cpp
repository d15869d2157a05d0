#include "platform/ui/backends/X11Desktop.h"

#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/ui/Messages.h"

namespace ui {

namespace {

constexpr uint32_t kTopLevelEvents = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                     XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                     XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW |
                                     XCB_EVENT_MASK_LEAVE_WINDOW | XCB_EVENT_MASK_KEY_PRESS |
                                     XCB_EVENT_MASK_KEY_RELEASE;
// Children only repaint; pointer and key events rise to their top-level
// window, which is all the input sink needs to know.
constexpr uint32_t kChildEvents = XCB_EVENT_MASK_EXPOSURE;

// ICCCM constants.
constexpr uint32_t kIconicState = 3;
constexpr uint32_t kStaticGravity = 10;
constexpr uint32_t kSizeHintFlags = 1 /*USPosition*/ | 2 /*USSize*/ | 4 /*PPosition*/ | 8 /*PSize*/ |
                                    512 /*PWinGravity*/;
// _NET_WM_STATE actions and the source of our requests (a pager-like tool
// acting for the user, so the window manager does not second-guess it).
constexpr uint32_t kStateRemove = 0;
constexpr uint32_t kStateAdd = 1;
constexpr uint32_t kSourcePager = 2;

int16_t coord(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
uint16_t extent(int v) { return static_cast<uint16_t>(std::clamp(v, 1, 32767)); }

Rect grow(const Rect& r, const X11Extents& e) { return {r.left - e.left, r.top - e.top, r.right + e.right, r.bottom + e.bottom}; }
Rect shrink(const Rect& r, const X11Extents& e) {
  return {r.left + e.left, r.top + e.top, r.right - e.right, r.bottom - e.bottom};
}

// The Xft.dpi line of the server's resource database, 0 when absent.
UINT xftDpi(X11Connection& x) {
  auto db = x.bytes(x.root(), XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING);
  if (!db) return 0;
  size_t at = 0;
  while (at < db->size()) {
    size_t end = db->find('\n', at);
    if (end == std::string::npos) end = db->size();
    std::string line = db->substr(at, end - at);
    at = end + 1;
    if (line.rfind("Xft.dpi:", 0) != 0) continue;
    double dpi = std::atof(line.c_str() + 8);
    if (dpi >= 24 && dpi <= 960) return static_cast<UINT>(std::lround(dpi));
  }
  return 0;
}

// Dots per inch from a physical width; 0 when the size is missing or absurd.
UINT physicalDpi(int pixels, uint32_t millimetres) {
  if (millimetres == 0 || pixels <= 0) return 0;
  double dpi = pixels * 25.4 / millimetres;
  return dpi >= 48 && dpi <= 480 ? static_cast<UINT>(std::lround(dpi)) : 0;
}

// Glyphs of the core "cursor" font.
uint16_t cursorGlyph(CursorShape shape) {
  switch (shape) {
    case CursorShape::Arrow: return 68;      // left_ptr
    case CursorShape::SizeAll: return 52;    // fleur
    case CursorShape::SizeWE: return 108;    // sb_h_double_arrow
    case CursorShape::SizeNS: return 116;    // sb_v_double_arrow
    case CursorShape::SizeNWSE: return 14;   // bottom_right_corner
    case CursorShape::SizeNESW: return 12;   // bottom_left_corner
    case CursorShape::Hand: return 60;       // hand2
    case CursorShape::Cross: return 34;      // crosshair
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
  xcb_create_window(c, 0, wakeWindow_, x_->root(), -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
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
    x.sendRootMessage(xid, a._NET_WM_STATE, topmost ? kStateAdd : kStateRemove, a._NET_WM_STATE_ABOVE, 0,
                      kSourcePager);
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
  xcb_create_window(c, XCB_COPY_FROM_PARENT, xid, parentXid, coord(desc.rect.left), coord(desc.rect.top),
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
    uint32_t values[] = {static_cast<uint32_t>(coord(desc.rect.left)), static_cast<uint32_t>(coord(desc.rect.top)),
                         extent(desc.rect.width()), extent(desc.rect.height())};
    xcb_configure_window(c, xid,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
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

// ---------------------------------------------------------------- desktop queries

std::vector<xcb_window_t> X11Desktop::stackedClients() {
  // Bottom first. A window manager keeps the list of the windows it manages.
  if (x_->hasWindowManager()) {
    std::vector<uint32_t> list =
        x_->cardinals(x_->root(), x_->atoms()._NET_CLIENT_LIST_STACKING, XCB_ATOM_WINDOW, 1 << 16);
    return {list.begin(), list.end()};
  }
  // Without one the clients are the root's mapped children, menus and
  // tooltips (override-redirect) aside.
  xcb_connection_t* c = x_->get();
  std::vector<xcb_window_t> out;
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, x_->root()), nullptr);
  if (!tree) return out;
  const xcb_window_t* children = xcb_query_tree_children(tree);
  int count = xcb_query_tree_children_length(tree);
  std::vector<xcb_get_window_attributes_cookie_t> cookies;
  for (int i = 0; i < count; ++i) cookies.push_back(xcb_get_window_attributes(c, children[i]));
  for (int i = 0; i < count; ++i) {
    xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(c, cookies[i], nullptr);
    if (!a) continue;
    if (!a->override_redirect && a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT &&
        a->map_state == XCB_MAP_STATE_VIEWABLE) {
      out.push_back(children[i]);
    }
    free(a);
  }
  free(tree);
  return out;
}

std::vector<HWND> X11Desktop::topLevelWindows() {
  std::vector<xcb_window_t> clients = stackedClients();
  std::vector<HWND> out;
  std::set<HWND> listed;
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    HWND h = handleOf(*it);
    if (listed.insert(h).second) out.push_back(h);
  }
  // Our hidden top-level windows are known to no window manager; they go at the bottom.
  std::lock_guard lock(mutex_);
  for (auto& [h, n] : natives_) {
    if (!n.parent && !listed.count(h)) out.push_back(h);
  }
  return out;
}

std::optional<DesktopWindowInfo> X11Desktop::windowInfo(HWND hwnd) {
  if (!hwnd) return std::nullopt;
  xcb_window_t xid = 0;
  std::optional<SurfaceDesc> ours;
  {
    std::lock_guard lock(mutex_);
    xid = xidOfLocked(hwnd);
    auto it = natives_.find(hwnd);
    if (it != natives_.end()) ours = it->second.desc;
  }
  if (!xid) return std::nullopt;
  xcb_connection_t* c = x_->get();
  const X11Atoms& a = x_->atoms();
  auto geometryCookie = xcb_get_geometry(c, xid);
  auto originCookie = xcb_translate_coordinates(c, xid, x_->root(), 0, 0);
  auto attributesCookie = xcb_get_window_attributes(c, xid);
  auto treeCookie = xcb_query_tree(c, xid);
  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, geometryCookie, nullptr);
  xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(c, originCookie, nullptr);
  xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(c, attributesCookie, nullptr);
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, treeCookie, nullptr);
  std::optional<DesktopWindowInfo> result;
  // A window that closed meanwhile answers nothing, like an unknown handle.
  if (geometry && origin && attributes && tree) {
    DesktopWindowInfo info;
    info.hwnd = hwnd;
    Rect g = Rect::fromSize(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    std::vector<uint32_t> wmState = x_->cardinals(xid, a.WM_STATE, a.WM_STATE, 2);
    std::vector<uint32_t> netState = x_->cardinals(xid, a._NET_WM_STATE, XCB_ATOM_ATOM);
    auto has = [&netState](xcb_atom_t s) { return std::find(netState.begin(), netState.end(), s) != netState.end(); };
    info.minimized = (!wmState.empty() && wmState[0] == kIconicState) || has(a._NET_WM_STATE_HIDDEN);
    info.maximized = has(a._NET_WM_STATE_MAXIMIZED_VERT) && has(a._NET_WM_STATE_MAXIMIZED_HORZ);
    info.visible = attributes->map_state == XCB_MAP_STATE_VIEWABLE || info.minimized;
    // A client the window manager put in a frame is still a top-level window.
    bool topLevel = tree->parent == x_->root() || !wmState.empty();
    if (ours) {
      info.parent = ours->parent;
      info.owner = ours->owner;
      info.processId = static_cast<uint32_t>(::getpid());
      info.title = ours->title;
      info.className = ours->className;
      info.style = ours->style;
      info.exStyle = ours->exStyle;
    } else {
      info.parent = topLevel ? 0 : handleOf(tree->parent);
      auto owner = x_->cardinal(xid, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW);
      info.owner = owner && *owner && *owner != x_->root() ? handleOf(*owner) : 0;
      info.processId = x_->cardinal(xid, a._NET_WM_PID, XCB_ATOM_CARDINAL).value_or(0);
      info.title = x_->title(xid);
      // WM_CLASS is "instance\0class\0"; the class names the program.
      std::string wmClass = x_->bytes(xid, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).value_or("");
      size_t nul = wmClass.find('\0');
      if (nul != std::string::npos) info.className = wmClass.substr(nul + 1, wmClass.find('\0', nul + 1) - nul - 1);
      info.style = (topLevel ? WS_OVERLAPPEDWINDOW : WS_CHILD) | (info.visible ? WS_VISIBLE : 0) |
                   (info.minimized ? WS_MINIMIZE : 0) | (info.maximized ? WS_MAXIMIZE : 0);
      info.exStyle = has(a._NET_WM_STATE_ABOVE) ? WS_EX_TOPMOST : 0;
    }
    // The window manager's frame lies around the client; a client drawing
    // its own frame keeps invisible borders inside its window.
    X11Extents frame = x_->extents(xid, a._NET_FRAME_EXTENTS).value_or(X11Extents{});
    X11Extents invisible = x_->extents(xid, a._GTK_FRAME_EXTENTS).value_or(X11Extents{});
    info.windowRect = grow(g, frame);
    info.frameBounds = shrink(info.windowRect, invisible);
    info.clientRect = shrink(g, invisible);
    result = info;
  }
  free(geometry);
  free(origin);
  free(attributes);
  free(tree);
  return result;
}

std::vector<HWND> X11Desktop::childWindows(HWND hwnd) {
  xcb_window_t xid = 0;
  {
    std::lock_guard lock(mutex_);
    xid = xidOfLocked(hwnd);
  }
  std::vector<HWND> out;
  if (!xid) return out;
  xcb_connection_t* c = x_->get();
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, xid), nullptr);
  if (!tree) return out;
  const xcb_window_t* children = xcb_query_tree_children(tree);
  for (int i = xcb_query_tree_children_length(tree) - 1; i >= 0; --i) {
    HWND h = handleOf(children[i]);
    // Our windows have only our children; a foreign id among them is not ours to name.
    if (isForeignHandle(hwnd) || !isForeignHandle(h)) out.push_back(h);
  }
  free(tree);
  return out;
}

std::vector<MonitorInfo> X11Desktop::monitors() {
  xcb_connection_t* c = x_->get();
  xcb_screen_t* s = x_->screen();
  UINT resourceDpi = xftDpi(*x_);
  UINT screenDpi = physicalDpi(s->width_in_pixels, s->width_in_millimeters);
  std::vector<MonitorInfo> out;
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (randr && randr->present) {
    auto version = xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr);
    bool monitorsKnown = version && (version->major_version > 1 || version->minor_version >= 5);
    free(version);
    auto reply = monitorsKnown ? xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, x_->root(), 1), nullptr)
                               : nullptr;
    if (reply) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem; xcb_randr_monitor_info_next(&it)) {
        MonitorInfo m;
        m.bounds = Rect::fromSize(it.data->x, it.data->y, it.data->width, it.data->height);
        m.primary = it.data->primary;
        UINT physical = physicalDpi(it.data->width, it.data->width_in_millimeters);
        m.dpi = resourceDpi ? resourceDpi : physical ? physical : screenDpi ? screenDpi : 96;
        out.push_back(m);
      }
      free(reply);
    }
  }
  if (out.empty()) {
    MonitorInfo m;
    m.bounds = {0, 0, s->width_in_pixels, s->height_in_pixels};
    m.dpi = resourceDpi ? resourceDpi : screenDpi ? screenDpi : 96;
    out.push_back(m);
  }
  if (std::none_of(out.begin(), out.end(), [](const MonitorInfo& m) { return m.primary; })) out[0].primary = true;
  // The window manager's work area of the current desktop, cut to each monitor.
  std::vector<uint32_t> areas = x_->cardinals(x_->root(), x_->atoms()._NET_WORKAREA, XCB_ATOM_CARDINAL);
  uint32_t desktop = x_->cardinal(x_->root(), x_->atoms()._NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL).value_or(0);
  Rect area;
  if (areas.size() >= (desktop + 1) * 4) {
    const uint32_t* v = &areas[desktop * 4];
    area = Rect::fromSize(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3]));
  }
  for (MonitorInfo& m : out) {
    Rect cut = m.bounds.intersect(area);
    m.workArea = cut.isEmpty() ? m.bounds : cut;
  }
  return out;
}

UINT X11Desktop::dpiForWindow(HWND hwnd) {
  std::vector<MonitorInfo> all = monitors();
  std::optional<DesktopWindowInfo> info = windowInfo(hwnd);
  Point centre{};
  if (info) centre = {info->windowRect.left + info->windowRect.width() / 2, info->windowRect.top + info->windowRect.height() / 2};
  for (const MonitorInfo& m : all) {
    if (m.bounds.contains(centre)) return m.dpi;
  }
  for (const MonitorInfo& m : all) {
    if (m.primary) return m.dpi;
  }
  return 96;
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
  if (!rect || rect->isEmpty()) return;
  // X has no pointer confinement without a grab, which would take the
  // pointer from every other client; the pointer is moved into the
  // rectangle now and whenever it leaves it over one of our windows.
  Point p = cursorPos();
  Point in{std::clamp(p.x, rect->left, rect->right - 1), std::clamp(p.y, rect->top, rect->bottom - 1)};
  if (in == p) return;
  xcb_warp_pointer(x_->get(), XCB_NONE, x_->root(), 0, 0, 0, 0, coord(in.x), coord(in.y));
  xcb_flush(x_->get());
}

std::optional<Rect> X11Desktop::cursorClip() {
  std::lock_guard lock(mutex_);
  return clip_;
}

// ---------------------------------------------------------------- services

UINT X11Desktop::trackPopupMenu(HWND, const std::vector<MenuItemView>&, Point) {
  // No popup menu window yet: the menu counts as dismissed.
  return 0;
}

std::optional<std::string> X11Desktop::saveFileDialog(const SaveDialogRequest&) {
  // No file dialog yet: the dialog counts as cancelled.
  return std::nullopt;
}

void X11Desktop::setKeyHookActive(bool) {
  // Keys reach the hooks while one of our windows has the keyboard focus;
  // keys typed into other clients' windows are not seen yet.
}

// ---------------------------------------------------------------- events

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

void X11Desktop::onEvent(xcb_generic_event_t* ev) {
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
      onButton(e->event, e->root_x, e->root_y, e->event_x, e->event_y, e->detail,
               (ev->response_type & 0x7F) == XCB_BUTTON_PRESS);
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
      auto* e = reinterpret_cast<xcb_key_press_event_t*>(ev);
      deliverKey(e->detail, (ev->response_type & 0x7F) == XCB_KEY_PRESS);
      break;
    }
    case XCB_MAPPING_NOTIFY: {
      auto* e = reinterpret_cast<xcb_mapping_notify_event_t*>(ev);
      if (e->request == XCB_MAPPING_KEYBOARD) keyboard_.reload();
      break;
    }
    case XCB_CLIENT_MESSAGE:
      // WM_DELETE_WINDOW: our windows close when their owners close them,
      // not from a window manager's close button.
      break;
    default:
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
      Point in{std::clamp(screen.x, clip_->left, clip_->right - 1), std::clamp(screen.y, clip_->top, clip_->bottom - 1)};
      xcb_warp_pointer(x_->get(), XCB_NONE, x_->root(), 0, 0, 0, 0, coord(in.x), coord(in.y));
      xcb_flush(x_->get());
      screen = in;
    }
  }
  std::lock_guard lock(sinkMutex_);
  if (sink_) sink_->mouseInput(top, screen, action);
}

void X11Desktop::deliverKey(xcb_keycode_t code, bool down) {
  UINT vk = keyboard_.virtualKey(code);
  if (!vk) return;
  std::lock_guard lock(sinkMutex_);
  if (sink_) sink_->keyInput(vk, down);
}

}  // namespace ui
