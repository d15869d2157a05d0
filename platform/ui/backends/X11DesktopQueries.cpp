// X11Desktop: the desktop queries. They read what every client on the
// display publishes (EWMH and ICCCM properties) and answer "nothing" for a
// window that closed meanwhile.
#include <unistd.h>
#include <xcb/randr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <set>

#include "platform/ui/Messages.h"
#include "platform/ui/backends/X11Desktop.h"

namespace ui {

namespace {

constexpr uint32_t kIconicState = 3;  // ICCCM WM_STATE

Rect grow(const Rect& r, const X11Extents& e) {
  return {r.left - e.left, r.top - e.top, r.right + e.right, r.bottom + e.bottom};
}
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

}  // namespace

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
    if (!a->override_redirect && a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT && a->map_state == XCB_MAP_STATE_VIEWABLE) {
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
    auto reply =
        monitorsKnown ? xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, x_->root(), 1), nullptr) : nullptr;
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
    area =
        Rect::fromSize(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3]));
  }
  for (MonitorInfo& m : out) {
    Rect cut = m.bounds.intersect(area);
    m.workArea = cut.isEmpty() ? m.bounds : cut;
  }
  return out;
}

UINT X11Desktop::dpiForWindow(HWND hwnd) {
  // Every drawing of a window asks (a video cell 25 times a second), and the
  // answer costs several round trips to the server: it is kept until a
  // window appears, moves or goes, the monitors or the resources change, or
  // a second passes (a window manager may move a window unasked).
  const uint64_t generation = dpiGeneration_.load();
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(dpiMutex_);
    const auto it = dpiCache_.find(hwnd);
    if (it != dpiCache_.end() && it->second.generation == generation && now - it->second.at < std::chrono::seconds(1))
      return it->second.dpi;
  }
  const UINT dpi = lookUpDpi(hwnd);
  std::lock_guard lock(dpiMutex_);
  // Entries of windows long gone are dropped wholesale.
  if (dpiCache_.size() >= 4096) dpiCache_.clear();
  dpiCache_[hwnd] = {generation, now, dpi};
  return dpi;
}

UINT X11Desktop::lookUpDpi(HWND hwnd) {
  std::vector<MonitorInfo> all = monitors();
  std::optional<DesktopWindowInfo> info = windowInfo(hwnd);
  Point centre{};
  if (info)
    centre = {info->windowRect.left + info->windowRect.width() / 2,
              info->windowRect.top + info->windowRect.height() / 2};
  for (const MonitorInfo& m : all) {
    if (m.bounds.contains(centre)) return m.dpi;
  }
  for (const MonitorInfo& m : all) {
    if (m.primary) return m.dpi;
  }
  return 96;
}

}  // namespace ui
