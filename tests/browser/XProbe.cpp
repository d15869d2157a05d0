// xprobe: what another client on the display sees, for the browser tests.
//
//   xprobe wm                      exit 0 once a window manager runs
//   xprobe windows                 the managed top-level windows, bottom to top, as JSON
//   xprobe serve                   "windows" again for every line read on stdin, until it ends
//                                  (one connection for many reads: no start-up per read)
//   xprobe children ID             a window's viewable children, bottom to top, as JSON
//   xprobe region X Y W H [RRGGBB] colour figures of a root rectangle, as JSON
//   xprobe shot FILE.png           the whole root window as a PNG
//
// The display is $DISPLAY. Every reply is checked: a window that closes
// while it is read is left out, never an error.
#include <cairo.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
  return Reply<T>(reply, &std::free);
}

class Probe {
 public:
  Probe() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_)) return;
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
  }
  ~Probe() { xcb_disconnect(connection_); }
  bool ok() const { return screen_ != nullptr; }
  xcb_window_t root() const { return screen_->root; }

  xcb_atom_t atom(const char* name) {
    auto reply = own(xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  std::vector<uint32_t> cardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    auto reply = own(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, property, type, 0, 4096), nullptr));
    std::vector<uint32_t> out;
    if (!reply || reply->format != 32) return out;
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    out.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
    return out;
  }

  std::string text(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    auto reply = own(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->format != 8) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<size_t>(xcb_get_property_value_length(reply.get())));
  }

  bool windowManagerRuns() {
    const std::vector<uint32_t> check = cardinals(root(), atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    if (check.empty()) return false;
    // The check window must exist and point at itself.
    return cardinals(check[0], atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW) == check;
  }

  int printWindows() {
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    std::vector<uint32_t> clients = cardinals(root(), atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    const xcb_atom_t netState = atom("_NET_WM_STATE");
    const xcb_atom_t hidden = atom("_NET_WM_STATE_HIDDEN");
    const xcb_atom_t maxV = atom("_NET_WM_STATE_MAXIMIZED_VERT");
    const xcb_atom_t fullscreen = atom("_NET_WM_STATE_FULLSCREEN");
    std::printf("[");
    bool first = true;
    for (const uint32_t window : clients) {
      auto geometry = own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
      auto origin = own(xcb_translate_coordinates_reply(
          connection_, xcb_translate_coordinates(connection_, window, root(), 0, 0), nullptr));
      auto attributes = own(xcb_get_window_attributes_reply(
          connection_, xcb_get_window_attributes(connection_, window), nullptr));
      if (!geometry || !origin || !attributes) continue;
      const std::vector<uint32_t> pid = cardinals(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
      const std::vector<uint32_t> owner = cardinals(window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW);
      const std::vector<uint32_t> wmState = cardinals(window, atom("WM_STATE"), atom("WM_STATE"));
      const std::vector<uint32_t> states = cardinals(window, netState, XCB_ATOM_ATOM);
      std::vector<uint32_t> gtk = cardinals(window, atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL);
      gtk.resize(4, 0);
      auto has = [&states](xcb_atom_t a) { return std::find(states.begin(), states.end(), a) != states.end(); };
      std::string title = text(window, atom("_NET_WM_NAME"), utf8);
      if (title.empty()) title = text(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
      std::printf("%s\n{\"id\":%u,\"pid\":%u,\"owner\":%u,\"title\":\"%s\",\"x\":%d,\"y\":%d,\"w\":%u,\"h\":%u,"
                  "\"viewable\":%s,\"iconic\":%s,\"hidden\":%s,\"maximized\":%s,\"fullscreen\":%s,"
                  "\"gtk\":[%u,%u,%u,%u]}",
                  first ? "" : ",", window, pid.empty() ? 0 : pid[0], owner.empty() ? 0 : owner[0],
                  escape(title).c_str(), origin->dst_x, origin->dst_y, geometry->width, geometry->height,
                  attributes->map_state == XCB_MAP_STATE_VIEWABLE ? "true" : "false",
                  !wmState.empty() && wmState[0] == 3 ? "true" : "false", has(hidden) ? "true" : "false",
                  has(maxV) ? "true" : "false", has(fullscreen) ? "true" : "false", gtk[0], gtk[1], gtk[2], gtk[3]);
      first = false;
    }
    std::printf("\n]\n");
    return 0;
  }

  int printChildren(xcb_window_t window) {
    auto tree = own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
    if (!tree) {
      std::fprintf(stderr, "xprobe: no window %u\n", window);
      return 1;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    std::printf("[");
    bool first = true;
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
      auto geometry = own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, children[i]), nullptr));
      auto origin = own(xcb_translate_coordinates_reply(
          connection_, xcb_translate_coordinates(connection_, children[i], root(), 0, 0), nullptr));
      auto attributes = own(xcb_get_window_attributes_reply(
          connection_, xcb_get_window_attributes(connection_, children[i]), nullptr));
      if (!geometry || !origin || !attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
      std::printf("%s\n{\"id\":%u,\"x\":%d,\"y\":%d,\"w\":%u,\"h\":%u}", first ? "" : ",", children[i],
                  origin->dst_x, origin->dst_y, geometry->width, geometry->height);
      first = false;
    }
    std::printf("\n]\n");
    return 0;
  }

  // The root's pixels in a rectangle, as 32-bit xRGB words.
  std::optional<std::vector<uint32_t>> pixels(int x, int y, int w, int h) {
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return std::nullopt;
    std::vector<uint32_t> out;
    out.reserve(static_cast<size_t>(w) * h);
    // Strips keep each request well under the server's request size limit.
    const int strip = std::max(1, (1 << 20) / (w * 4));
    for (int top = 0; top < h; top += strip) {
      const int rows = std::min(strip, h - top);
      auto image = own(xcb_get_image_reply(
          connection_,
          xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root(), static_cast<int16_t>(x),
                        static_cast<int16_t>(y + top), static_cast<uint16_t>(w), static_cast<uint16_t>(rows), ~0u),
          nullptr));
      if (!image || image->depth != 24) return std::nullopt;
      const int length = xcb_get_image_data_length(image.get());
      if (length < w * rows * 4) return std::nullopt;
      const auto* data = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image.get()));
      for (int i = 0; i < w * rows; ++i) out.push_back(data[i] & 0xFFFFFF);
    }
    return out;
  }

  int printRegion(int x, int y, int w, int h, std::optional<uint32_t> colour) {
    const auto data = pixels(x, y, w, h);
    if (!data) {
      std::fprintf(stderr, "xprobe: cannot read %dx%d at %d,%d\n", w, h, x, y);
      return 1;
    }
    std::set<uint32_t> distinct;
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over the pixels
    size_t matching = 0;
    for (const uint32_t p : *data) {
      distinct.insert(p);
      hash = (hash ^ p) * 1099511628211ull;
      if (colour && near(p, *colour)) ++matching;
    }
    std::printf("{\"pixels\":%zu,\"distinct\":%zu,\"hash\":\"%016llx\",\"matching\":%zu}\n", data->size(),
                distinct.size(), static_cast<unsigned long long>(hash), matching);
    return 0;
  }

  int shot(const char* file) {
    const int w = screen_->width_in_pixels;
    const int h = screen_->height_in_pixels;
    const auto data = pixels(0, 0, w, h);
    if (!data) return 1;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(data->data())), CAIRO_FORMAT_RGB24, w, h, w * 4);
    const cairo_status_t status = cairo_surface_write_to_png(surface, file);
    cairo_surface_destroy(surface);
    return status == CAIRO_STATUS_SUCCESS ? 0 : 1;
  }

 private:
  static bool near(uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
      if (d < -8 || d > 8) return false;
    }
    return true;
  }

  static std::string escape(const std::string& s) {
    std::string out;
    for (const unsigned char c : s) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c < 0x20) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
        out += buffer;
      } else {
        out += static_cast<char>(c);
      }
    }
    return out;
  }

  xcb_connection_t* connection_;
  xcb_screen_t* screen_ = nullptr;
};

int usage() {
  std::fprintf(stderr, "usage: xprobe wm | windows | serve | children ID | region X Y W H [RRGGBB] | shot FILE.png\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  Probe probe;
  if (!probe.ok()) {
    std::fprintf(stderr, "xprobe: cannot open display %s\n", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    return 1;
  }
  const std::string command = argv[1];
  if (command == "wm") return probe.windowManagerRuns() ? 0 : 1;
  if (command == "windows") return probe.printWindows();
  if (command == "serve") {
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
      if (c != '\n') continue;
      if (probe.printWindows() != 0) return 1;
      std::fflush(stdout);
    }
    return 0;
  }
  if (command == "children" && argc == 3) return probe.printChildren(static_cast<xcb_window_t>(std::strtoul(argv[2], nullptr, 10)));
  if (command == "shot" && argc == 3) return probe.shot(argv[2]);
  if (command == "region" && (argc == 6 || argc == 7)) {
    std::optional<uint32_t> colour;
    if (argc == 7) colour = static_cast<uint32_t>(std::strtoul(argv[6], nullptr, 16));
    return probe.printRegion(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), colour);
  }
  return usage();
}
