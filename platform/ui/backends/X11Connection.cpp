#include "platform/ui/backends/X11Connection.h"

#include <cstdlib>
#include <cstring>

namespace ui {

namespace {

struct AtomName {
  const char* name;
  xcb_atom_t X11Atoms::*member;
};

#define KS_ATOM(n) \
  { #n, &X11Atoms::n }
constexpr AtomName kAtomNames[] = {
    KS_ATOM(WM_PROTOCOLS),
    KS_ATOM(WM_DELETE_WINDOW),
    KS_ATOM(WM_STATE),
    KS_ATOM(WM_CHANGE_STATE),
    KS_ATOM(UTF8_STRING),
    KS_ATOM(_NET_SUPPORTING_WM_CHECK),
    KS_ATOM(_NET_CLIENT_LIST),
    KS_ATOM(_NET_CLIENT_LIST_STACKING),
    KS_ATOM(_NET_ACTIVE_WINDOW),
    KS_ATOM(_NET_WM_NAME),
    KS_ATOM(_NET_WM_PID),
    KS_ATOM(_NET_WM_STATE),
    KS_ATOM(_NET_WM_STATE_HIDDEN),
    KS_ATOM(_NET_WM_STATE_ABOVE),
    KS_ATOM(_NET_WM_STATE_MAXIMIZED_VERT),
    KS_ATOM(_NET_WM_STATE_MAXIMIZED_HORZ),
    KS_ATOM(_NET_WM_STATE_SKIP_TASKBAR),
    KS_ATOM(_NET_WM_STATE_SKIP_PAGER),
    KS_ATOM(_NET_WM_WINDOW_TYPE),
    KS_ATOM(_NET_WM_WINDOW_TYPE_UTILITY),
    KS_ATOM(_NET_WM_WINDOW_TYPE_NORMAL),
    KS_ATOM(_NET_WM_USER_TIME),
    KS_ATOM(_NET_RESTACK_WINDOW),
    KS_ATOM(_NET_FRAME_EXTENTS),
    KS_ATOM(_NET_WORKAREA),
    KS_ATOM(_NET_CURRENT_DESKTOP),
    KS_ATOM(_GTK_FRAME_EXTENTS),
    KS_ATOM(_MOTIF_WM_HINTS),
    KS_ATOM(KESTROVA_WAKE),
};
#undef KS_ATOM

std::string latin1ToUtf8(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  for (unsigned char c : in) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Whether the screen's root visual stores 0x00RRGGBB in 32-bit pixels the
// way Cairo's RGB24 keeps them, so images go to the server unconverted.
bool screenTakesRgb24(xcb_connection_t* conn, xcb_screen_t* screen, std::string* why) {
  const xcb_setup_t* setup = xcb_get_setup(conn);
  if (screen->root_depth != 24) {
    *why = "the screen is not 24 bits deep";
    return false;
  }
  bool formatOk = false;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
    if (it.data->depth == 24) formatOk = it.data->bits_per_pixel == 32;
  }
  if (!formatOk || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
    *why = "the screen's pixels are not 32-bit, least significant byte first";
    return false;
  }
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->visual_id != screen->root_visual) continue;
      if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000 &&
          v.data->green_mask == 0x00FF00 && v.data->blue_mask == 0x0000FF) {
        return true;
      }
    }
  }
  *why = "the root visual is not 8-8-8 TrueColor";
  return false;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open(const char* display, std::string* error) {
  auto fail = [error](std::string why) -> std::unique_ptr<X11Connection> {
    if (error) *error = std::move(why);
    return nullptr;
  };
  const char* name = display ? display : std::getenv("DISPLAY");
  if (!name || !*name) return fail("no X display is set (DISPLAY is empty)");
  int screenNumber = 0;
  xcb_connection_t* conn = xcb_connect(name, &screenNumber);
  if (!conn || xcb_connection_has_error(conn)) {
    if (conn) xcb_disconnect(conn);
    return fail(std::string("cannot open X display ") + name);
  }
  xcb_screen_t* screen = nullptr;
  auto it = xcb_setup_roots_iterator(xcb_get_setup(conn));
  for (int i = 0; it.rem; ++i, xcb_screen_next(&it)) {
    if (i == screenNumber) screen = it.data;
  }
  std::string why;
  if (!screen) why = "the display has no screen " + std::to_string(screenNumber);
  if (screen && !screenTakesRgb24(conn, screen, &why)) screen = nullptr;
  if (!screen) {
    xcb_disconnect(conn);
    return fail(std::string("X display ") + name + ": " + why);
  }
  std::unique_ptr<X11Connection> c(new X11Connection(conn, screen));
  if (!c->internAtoms()) return fail(std::string("X display ") + name + ": interning atoms failed");
  c->maxRequestBytes_ = xcb_get_maximum_request_length(conn) * 4;
  c->displayName_ = name;
  return c;
}

X11Connection::~X11Connection() { xcb_disconnect(conn_); }

bool X11Connection::internAtoms() {
  constexpr size_t n = sizeof(kAtomNames) / sizeof(kAtomNames[0]);
  xcb_intern_atom_cookie_t cookies[n];
  for (size_t i = 0; i < n; ++i) {
    cookies[i] = xcb_intern_atom(conn_, 0, static_cast<uint16_t>(std::strlen(kAtomNames[i].name)), kAtomNames[i].name);
  }
  bool ok = true;
  for (size_t i = 0; i < n; ++i) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(conn_, cookies[i], nullptr);
    if (!r) {
      ok = false;
      continue;
    }
    atoms_.*(kAtomNames[i].member) = r->atom;
    free(r);
  }
  return ok;
}

std::vector<uint32_t> X11Connection::cardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                                               uint32_t maxItems) {
  std::vector<uint32_t> out;
  auto cookie = xcb_get_property(conn_, 0, w, property, type, 0, maxItems);
  xcb_get_property_reply_t* r = xcb_get_property_reply(conn_, cookie, nullptr);
  if (!r) return out;
  if (r->format == 32 && r->type == type) {
    auto* data = static_cast<const uint32_t*>(xcb_get_property_value(r));
    out.assign(data, data + xcb_get_property_value_length(r) / 4);
  }
  free(r);
  return out;
}

std::optional<uint32_t> X11Connection::cardinal(xcb_window_t w, xcb_atom_t property, xcb_atom_t type) {
  std::vector<uint32_t> v = cardinals(w, property, type, 1);
  if (v.empty()) return std::nullopt;
  return v[0];
}

std::optional<std::string> X11Connection::bytes(xcb_window_t w, xcb_atom_t property, xcb_atom_t type) {
  // Titles and resources are short; 256 KiB bounds a hostile property.
  auto cookie = xcb_get_property(conn_, 0, w, property, type, 0, 64 * 1024);
  xcb_get_property_reply_t* r = xcb_get_property_reply(conn_, cookie, nullptr);
  if (!r) return std::nullopt;
  std::optional<std::string> out;
  if (r->format == 8 && r->type == type) {
    out.emplace(static_cast<const char*>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
  }
  free(r);
  return out;
}

std::string X11Connection::title(xcb_window_t w) {
  if (auto utf8 = bytes(w, atoms_._NET_WM_NAME, atoms_.UTF8_STRING)) return *utf8;
  if (auto latin1 = bytes(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING)) return latin1ToUtf8(*latin1);
  return {};
}

std::optional<X11Extents> X11Connection::extents(xcb_window_t w, xcb_atom_t property) {
  std::vector<uint32_t> v = cardinals(w, property, XCB_ATOM_CARDINAL, 4);
  if (v.size() != 4) return std::nullopt;
  return X11Extents{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
}

void X11Connection::setCardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                                 const std::vector<uint32_t>& values) {
  xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, property, type, 32, static_cast<uint32_t>(values.size()),
                      values.data());
}

void X11Connection::setBytes(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::string& value) {
  xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, property, type, 8, static_cast<uint32_t>(value.size()),
                      value.data());
}

void X11Connection::sendRootMessage(xcb_window_t w, xcb_atom_t type, uint32_t d0, uint32_t d1, uint32_t d2,
                                    uint32_t d3) {
  xcb_client_message_event_t ev{};
  ev.response_type = XCB_CLIENT_MESSAGE;
  ev.format = 32;
  ev.window = w;
  ev.type = type;
  ev.data.data32[0] = d0;
  ev.data.data32[1] = d1;
  ev.data.data32[2] = d2;
  ev.data.data32[3] = d3;
  xcb_send_event(conn_, 0, root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&ev));
}

bool X11Connection::hasWindowManager() {
  auto check = cardinal(root(), atoms_._NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW);
  if (!check) return false;
  auto self = cardinal(*check, atoms_._NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW);
  return self && *self == *check;
}

}  // namespace ui
