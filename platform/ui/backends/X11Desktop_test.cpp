// The X11 desktop against a real X server: each test starts its own Xvfb,
// installs the backend in the window system, and checks what it did with a
// second, plain XCB connection (the "probe"), as another client on the same
// display would see it.
#include "platform/ui/backends/X11Desktop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/Menu.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowDC.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"
#include "platform/ui/testing/InputLog.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "platform/ui/testing/Xvfb.h"

extern char** environ;

namespace ui {
namespace {

using namespace std::chrono_literals;

using test::findOnPath;
using test::Xvfb;

// openbox on a test's display, for the stories that need a window manager.
class Openbox {
 public:
  explicit Openbox(const std::string& display) {
    std::string program = findOnPath("openbox");
    if (program.empty()) {
      error_ = "openbox is not on PATH; install the openbox package (scripts/install-deps)";
      return;
    }
    std::vector<std::string> env{"DISPLAY=" + display, "HOME=/tmp"};
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const char* argv[] = {program.c_str(), "--sm-disable", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv), envp.data()) != 0) {
      pid_ = 0;
      error_ = "cannot start " + program;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Openbox() {
    if (!pid_) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = 0;
  std::string error_;
};

// A plain client on the display: reads what the backend did, plays the
// browser, and drives the pointer and keyboard through XTEST.
class Probe {
 public:
  explicit Probe(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
  }
  ~Probe() { xcb_disconnect(c_); }
  xcb_connection_t* get() { return c_; }
  xcb_window_t root() { return screen_->root; }

  xcb_atom_t atom(const char* name) {
    auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    free(r);
    return a;
  }
  void set(xcb_window_t w, const char* property, const char* type, int format, const void* data, uint32_t count) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), atom(type), static_cast<uint8_t>(format), count,
                        data);
    xcb_flush(c_);
  }
  uint32_t cardinal(xcb_window_t w, const char* property, xcb_atom_t type) {
    auto* r = xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom(property), type, 0, 1), nullptr);
    uint32_t v = r && xcb_get_property_value_length(r) == 4 ? *static_cast<uint32_t*>(xcb_get_property_value(r)) : 0;
    free(r);
    return v;
  }
  // The window's rectangle on the screen, empty when it is not viewable.
  Rect viewableRect(xcb_window_t w) {
    auto* a = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
    auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
    auto* t = xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root(), 0, 0), nullptr);
    Rect r;
    if (a && g && t && a->map_state == XCB_MAP_STATE_VIEWABLE)
      r = Rect::fromSize(t->dst_x, t->dst_y, g->width, g->height);
    free(a);
    free(g);
    free(t);
    return r;
  }
  // The rectangle of the viewable override-redirect window (an open menu), empty when none.
  Rect menuRect() {
    Rect found;
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root()), nullptr);
    if (!tree) return found;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      auto* a = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, children[i]), nullptr);
      if (a && a->override_redirect) found = found.unite(viewableRect(children[i]));
      free(a);
    }
    free(tree);
    return found;
  }
  // 0x00RRGGBB of one pixel of the screen.
  uint32_t pixel(int x, int y) {
    auto* r = xcb_get_image_reply(c_,
                                  xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root(), static_cast<int16_t>(x),
                                                static_cast<int16_t>(y), 1, 1, ~0u),
                                  nullptr);
    uint32_t v = r && xcb_get_image_data_length(r) >= 4 ? *reinterpret_cast<uint32_t*>(xcb_get_image_data(r)) : 0;
    free(r);
    return v & 0xFFFFFF;
  }
  Point pointer() {
    auto* r = xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root()), nullptr);
    Point at = r ? Point{r->root_x, r->root_y} : Point{-1, -1};
    free(r);
    return at;
  }
  void fake(uint8_t type, uint8_t detail, int x = 0, int y = 0) {
    xcb_test_fake_input(c_, type, detail, XCB_CURRENT_TIME, root(), static_cast<int16_t>(x), static_cast<int16_t>(y),
                        0);
    xcb_flush(c_);
  }
  xcb_keycode_t keyCode(uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(c_);
    uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    auto* r = xcb_get_keyboard_mapping_reply(c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, count), nullptr);
    xcb_keycode_t code = 0;
    if (r) {
      const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r);
      for (int i = 0; i < count && !code; ++i) {
        if (syms[i * r->keysyms_per_keycode] == keysym) code = static_cast<xcb_keycode_t>(setup->min_keycode + i);
      }
      free(r);
    }
    return code;
  }

 private:
  xcb_connection_t* c_;
  xcb_screen_t* screen_;
};

// Paints itself in one colour, which the test may change.
class Filled : public Window {
 public:
  explicit Filled(COLORREF c) : color(c) {}
  COLORREF color;
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if (msg != WM_PAINT) return defaultHandle(msg, w, l);
    PaintScope paint(hwnd());
    if (paint.valid()) paint.dc().fillRect(paint.paintRect(), color);
    return 0;
  }
};

class PaintedLog : public test::InputLog {
 public:
  explicit PaintedLog(COLORREF c) { setClassBackground(c); }
  bool got(UINT msg, WPARAM w, LPARAM l) const {
    return std::any_of(log.begin(), log.end(), [&](const Msg& m) { return m.msg == msg && m.w == w && m.l == l; });
  }
};

constexpr uint32_t kBlue = 0x2040C0;
constexpr uint32_t kGreen = 0x20C040;
constexpr uint32_t kRed = 0xD03020;
constexpr COLORREF colorRef(uint32_t rgb) { return RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// Runs once with shared-memory presenting and once with core PutImage.
class X11DesktopTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xvfb_.error().empty()) << xvfb_.error();
    std::string error;
    auto backend = X11Desktop::open({xvfb_.display().c_str(), GetParam()}, &error);
    ASSERT_TRUE(backend) << error;
    desktop_ = backend.get();
    ASSERT_TRUE(WindowSystem::install(std::move(backend)));
    probe_ = std::make_unique<Probe>(xvfb_.display());
  }
  void TearDown() override {
    if (!desktop_) return;
    pumpPendingMessages();
    WindowSystem::uninstall();
  }
  bool eventually(const std::function<bool()>& cond) { return pumpMessagesUntil(cond, 5s); }

  test::Watchdog watchdog_{60s, "ui_x11_test"};
  Xvfb xvfb_;
  X11Desktop* desktop_ = nullptr;
  std::unique_ptr<Probe> probe_;
};

TEST_P(X11DesktopTest, DockOverBrowserWindowIsShownQueriedAndClicked) {
  Probe& p = *probe_;
  // The browser: another client's top-level window with its process id and title.
  xcb_window_t browser = xcb_generate_id(p.get());
  xcb_create_window(p.get(), XCB_COPY_FROM_PARENT, browser, p.root(), 100, 120, 640, 480, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  uint32_t browserPid = 4242;
  std::string title = "Camera page \xE2\x80\x93 Browser";
  p.set(browser, "_NET_WM_PID", "CARDINAL", 32, &browserPid, 1);
  p.set(browser, "_NET_WM_NAME", "UTF8_STRING", 8, title.data(), static_cast<uint32_t>(title.size()));
  p.set(browser, "WM_CLASS", "STRING", 8, "browser\0Browser\0", 16);
  xcb_map_window(p.get(), browser);
  xcb_flush(p.get());
  const HWND browserHandle = browser | kForeignHandleBit;

  // The dock: owned by the browser window, with a painted child.
  PaintedLog dock(colorRef(kBlue));
  HWND top = dock.create(browserHandle, {300, 200, 700, 500}, "dock", WS_POPUP | WS_VISIBLE);
  ASSERT_NE(top, 0u);
  Filled cell(colorRef(kGreen));
  ASSERT_NE(cell.create(top, {50, 40, 150, 120}, "cell", WS_CHILD | WS_VISIBLE), 0u);
  xcb_window_t dockX = desktop_->xWindowOf(top);
  ASSERT_NE(dockX, 0u);
  EXPECT_EQ(desktop_->presentsShared(top), GetParam());

  // On screen where asked, made transient for its owner, with our process id.
  EXPECT_TRUE(eventually([&] {
    return p.viewableRect(dockX) == Rect{300, 200, 700, 500};
  })) << "dock not mapped at its rectangle";
  EXPECT_EQ(p.cardinal(dockX, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW), browser);
  EXPECT_EQ(p.cardinal(dockX, "_NET_WM_PID", XCB_ATOM_CARDINAL), static_cast<uint32_t>(::getpid()));

  // The painted pixels reach the screen: the child's colour over the dock's.
  EXPECT_TRUE(eventually([&] { return p.pixel(300 + 60, 200 + 50) == kGreen; }))
      << std::hex << "child pixel " << p.pixel(360, 250);
  EXPECT_TRUE(eventually([&] { return p.pixel(300 + 5, 200 + 5) == kBlue; }))
      << std::hex << "dock pixel " << p.pixel(305, 205);
  // Repainted once the windows settled (no Expose helps now): the new colour shows.
  cell.color = colorRef(kRed);
  ASSERT_TRUE(invalidateRect(cell.hwnd()));
  EXPECT_TRUE(eventually([&] { return p.pixel(300 + 149, 200 + 119) == kRed; }))
      << std::hex << "repainted child pixel " << p.pixel(449, 319);
  EXPECT_EQ(p.pixel(300 + 150, 200 + 120), kBlue);

  // The desktop queries see the browser below the dock, as it is.
  std::vector<HWND> zOrder = desktop_->topLevelWindows();
  auto browserAt = std::find(zOrder.begin(), zOrder.end(), browserHandle);
  auto dockAt = std::find(zOrder.begin(), zOrder.end(), top);
  ASSERT_NE(browserAt, zOrder.end());
  ASSERT_NE(dockAt, zOrder.end());
  EXPECT_LT(dockAt, browserAt);
  // Sent to the bottom or below its owner, the dock stays right above the
  // browser (no window manager here to keep it there).
  for (HWND below : {HWND_BOTTOM, browserHandle}) {
    setWindowPos(top, below, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    zOrder = desktop_->topLevelWindows();
    auto dockNow = std::find(zOrder.begin(), zOrder.end(), top);
    auto browserNow = std::find(zOrder.begin(), zOrder.end(), browserHandle);
    ASSERT_NE(browserNow, zOrder.end());
    EXPECT_EQ(dockNow - zOrder.begin() + 1, browserNow - zOrder.begin()) << "insert after " << below;
  }
  auto info = desktop_->windowInfo(browserHandle);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->processId, browserPid);
  EXPECT_EQ(info->title, title);
  EXPECT_EQ(info->className, "Browser");
  EXPECT_EQ(info->windowRect, (Rect{100, 120, 740, 600}));
  EXPECT_EQ(info->clientRect, info->windowRect);
  EXPECT_TRUE(info->visible);
  EXPECT_FALSE(info->minimized);
  EXPECT_EQ(info->parent, 0u);

  // A browser drawing its own frame: invisible borders, then minimised.
  uint32_t borders[] = {4, 4, 4, 4};
  p.set(browser, "_GTK_FRAME_EXTENTS", "CARDINAL", 32, borders, 4);
  xcb_atom_t hidden = p.atom("_NET_WM_STATE_HIDDEN");
  p.set(browser, "_NET_WM_STATE", "ATOM", 32, &hidden, 1);
  info = desktop_->windowInfo(browserHandle);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->windowRect, (Rect{100, 120, 740, 600}));
  EXPECT_EQ(info->frameBounds, (Rect{104, 124, 736, 596}));
  EXPECT_EQ(info->clientRect, (Rect{104, 124, 736, 596}));
  EXPECT_TRUE(info->minimized);
  EXPECT_TRUE(info->style & WS_MINIMIZE);

  // A click on the dock beside the cell arrives as a left button message at
  // client coordinates; a key then reaches the focused dock.
  setFocus(top);
  p.fake(XCB_MOTION_NOTIFY, 0, 300 + 300, 200 + 250);
  p.fake(XCB_BUTTON_PRESS, 1);
  p.fake(XCB_BUTTON_RELEASE, 1);
  EXPECT_TRUE(eventually([&] { return dock.got(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 250)); }));
  EXPECT_TRUE(eventually([&] { return dock.got(WM_LBUTTONUP, 0, MAKELPARAM(300, 250)); }));
  xcb_keycode_t escape = p.keyCode(0xFF1B);
  ASSERT_NE(escape, 0);
  p.fake(XCB_KEY_PRESS, escape);
  p.fake(XCB_KEY_RELEASE, escape);
  EXPECT_TRUE(eventually([&] {
    return std::any_of(dock.log.begin(), dock.log.end(),
                       [](const auto& m) { return m.msg == WM_KEYDOWN && m.w == VK_ESCAPE; });
  }));

  // A key hook sees every key: once while the dock has the focus (not again
  // through the raw events), and typed into another client's window.
  std::mutex hookMutex;
  std::vector<UINT> hooked;
  int hook = installKeyHook([&](UINT msg, UINT vk) {
    std::lock_guard lock(hookMutex);
    if (msg == WM_KEYDOWN) hooked.push_back(vk);
    return false;
  });
  ASSERT_NE(hook, 0);
  auto seen = [&] {
    std::lock_guard lock(hookMutex);
    return hooked;
  };
  auto press = [&](uint32_t keysym) {
    xcb_keycode_t code = p.keyCode(keysym);
    p.fake(XCB_KEY_PRESS, code);
    p.fake(XCB_KEY_RELEASE, code);
  };
  constexpr uint32_t kF5 = 0xFFC2, kF6 = 0xFFC3, kF7 = 0xFFC4;
  press(kF5);
  press(kF6);
  EXPECT_TRUE(eventually([&] { return seen().size() >= 2; }));
  EXPECT_EQ(seen(), (std::vector<UINT>{0x74, 0x75}));
  xcb_window_t other = xcb_generate_id(p.get());
  xcb_create_window(p.get(), XCB_COPY_FROM_PARENT, other, p.root(), 1200, 700, 200, 100, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_map_window(p.get(), other);
  xcb_flush(p.get());
  ASSERT_TRUE(eventually([&] { return !p.viewableRect(other).isEmpty(); }));
  xcb_set_input_focus(p.get(), XCB_INPUT_FOCUS_POINTER_ROOT, other, XCB_CURRENT_TIME);
  press(kF7);
  EXPECT_TRUE(eventually([&] { return seen().size() >= 3; }));
  EXPECT_EQ(seen(), (std::vector<UINT>{0x74, 0x75, 0x76}));
  EXPECT_TRUE(removeKeyHook(hook));

  // The browser closes: its handle answers nothing, and the list drops it.
  xcb_destroy_window(p.get(), browser);
  xcb_flush(p.get());
  EXPECT_TRUE(eventually([&] { return !desktop_->windowInfo(browserHandle); }));
  zOrder = desktop_->topLevelWindows();
  EXPECT_EQ(std::find(zOrder.begin(), zOrder.end(), browserHandle), zOrder.end());

  // Hidden, the dock leaves the screen; destroyed, its X window is gone.
  showWindow(top, SW_HIDE);
  EXPECT_TRUE(eventually([&] { return p.viewableRect(dockX).isEmpty(); }));
  dock.destroyWindow();
  EXPECT_EQ(desktop_->xWindowOf(top), 0u);
}

// Start-up's choice of desktop from KESTROVA_UI and DISPLAY.
// sync() returns only once the server has carried out the presents sent
// before it: another client reads the new colour at once, without waiting.
TEST_P(X11DesktopTest, SyncReturnsOnceThePresentedPixelsAreOnTheScreen) {
  Probe& p = *probe_;
  Window window;
  HWND h = window.create(0, {40, 30, 40 + 704, 30 + 576}, "frame", WS_POPUP | WS_VISIBLE);
  ASSERT_NE(h, 0u);
  const xcb_window_t xid = desktop_->xWindowOf(h);
  ASSERT_TRUE(eventually([&] { return p.viewableRect(xid) == Rect{40, 30, 744, 606}; }));
  pumpPendingMessages();
  const uint32_t colours[] = {kRed, kGreen, kBlue, kRed, kGreen, kBlue};
  for (const uint32_t colour : colours) {
    {
      WindowDC dc(h);
      ASSERT_TRUE(dc.valid());
      dc.dc().fillRect({0, 0, 704, 576}, colorRef(colour));
      dc.dc().markDirty();
    }
    desktop_->sync();
    EXPECT_EQ(p.pixel(40 + 703, 30 + 575), colour) << std::hex << colour;
    EXPECT_EQ(p.pixel(40, 30), colour) << std::hex << colour;
  }
  // With a shared segment the server reads the window's own image.
  EXPECT_EQ(desktop_->presentsWindowMemory(h), GetParam());
  // Smaller (the image keeps its memory), then larger than ever (new
  // memory): each size shows what is drawn at its far corner.
  const struct {
    int width, height;
    uint32_t colour;
  } sizes[] = {{600, 500, kGreen}, {800, 640, kRed}};
  for (const auto& size : sizes) {
    ASSERT_TRUE(setWindowPos(h, 0, 0, 0, size.width, size.height, SWP_NOZORDER | SWP_NOMOVE | SWP_NOREDRAW));
    ASSERT_TRUE(eventually([&] { return p.viewableRect(xid) == Rect::fromSize(40, 30, size.width, size.height); }));
    {
      WindowDC dc(h);
      ASSERT_TRUE(dc.valid());
      dc.dc().fillRect({0, 0, size.width, size.height}, colorRef(size.colour));
      dc.dc().markDirty();
    }
    desktop_->sync();
    EXPECT_EQ(p.pixel(40 + size.width - 1, 30 + size.height - 1), size.colour) << size.width;
  }
  window.destroyWindow();
}

TEST(BackendChoice, FollowsTheEnvironmentAndFallsBackToHeadless) {
  Xvfb xvfb;
  ASSERT_TRUE(xvfb.error().empty()) << xvfb.error();
  const char* live = xvfb.display().c_str();
  struct Case {
    const char* ui;
    const char* display;
    bool x11;
    bool complains;
  } cases[] = {
      {nullptr, live, true, false},      {"x11", live, true, false},    {"headless", live, false, false},
      {nullptr, nullptr, false, false},  {"x11", nullptr, false, true}, {"x11", ":4711", false, true},
      {"wayland", nullptr, false, true},
  };
  std::string savedDisplay = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("KESTROVA_UI=") + (c.ui ? c.ui : "(unset)") +
                 " DISPLAY=" + (c.display ? c.display : "(unset)"));
    c.ui ? ::setenv("KESTROVA_UI", c.ui, 1) : ::unsetenv("KESTROVA_UI");
    c.display ? ::setenv("DISPLAY", c.display, 1) : ::unsetenv("DISPLAY");
    ::testing::internal::CaptureStderr();
    std::unique_ptr<Backend> backend = makeBackendFromEnvironment();
    std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(backend);
    EXPECT_EQ(dynamic_cast<X11Desktop*>(backend.get()) != nullptr, c.x11);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.complains ? 1 : 0) << said;
  }
  ::unsetenv("KESTROVA_UI");
  savedDisplay.empty() ? ::unsetenv("DISPLAY") : ::setenv("DISPLAY", savedDisplay.c_str(), 1);
}

// The Save-As dialog is zenity's, found on PATH; a stand-in script records
// how it was asked and answers as zenity would.
TEST(SaveDialog, RunsZenityOnTheDesktopsDisplay) {
  Xvfb xvfb;
  ASSERT_TRUE(xvfb.error().empty()) << xvfb.error();
  std::string error;
  auto desktop = X11Desktop::open({xvfb.display().c_str(), true}, &error);
  ASSERT_TRUE(desktop) << error;
  char dirTemplate[] = "/tmp/ks-zenity-XXXXXX";
  ASSERT_TRUE(::mkdtemp(dirTemplate));
  const std::string dir = dirTemplate;
  const std::string argsFile = dir + "/args";
  SaveDialogRequest request;
  request.title = "Save recording";
  request.initialPath = "/tmp/clips/ch1.mp4";
  request.filter = "Video (*.mp4)|*.mp4|All files|*";
  request.defaultExtension = "mp4";
  struct Case {
    const char* reply;  // what the script prints
    int status;
    std::optional<std::string> chosen;
  } cases[] = {
      {"/tmp/clips/cam1\n", 0, "/tmp/clips/cam1.mp4"},
      {"/tmp/clips/cam1.mov\n", 0, "/tmp/clips/cam1.mov"},
      {"", 1, std::nullopt},
  };
  const std::string savedPath = std::getenv("PATH");
  ::setenv("PATH", (dir + ":" + savedPath).c_str(), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    {
      std::ofstream script(dir + "/zenity");
      script << "#!/bin/sh\nprintf '%s\\n' \"$DISPLAY\" \"$@\" > " << argsFile << "\nprintf '" << c.reply << "'\nexit "
             << c.status << "\n";
    }
    ::chmod((dir + "/zenity").c_str(), 0755);
    EXPECT_EQ(desktop->saveFileDialog(request), c.chosen);
  }
  std::ifstream args(argsFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(args, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{xvfb.display(), "--file-selection", "--save", "--title=Save recording",
                                             "--filename=/tmp/clips/ch1.mp4", "--file-filter=Video (*.mp4) | *.mp4",
                                             "--file-filter=All files | *"}));
  // Without zenity the dialog counts as cancelled.
  ::unlink((dir + "/zenity").c_str());
  ::setenv("PATH", dir.c_str(), 1);
  EXPECT_EQ(desktop->saveFileDialog(request), std::nullopt);
  ::setenv("PATH", savedPath.c_str(), 1);
  ::unlink(argsFile.c_str());
  ::rmdir(dir.c_str());
}

TEST_P(X11DesktopTest, PopupMenuAnswersAClickOrTheKeysAndIsDismissedOutside) {
  Probe& p = *probe_;
  const std::vector<MenuItemView> items{
      {1, "Play", MF_STRING}, {0, "", MF_SEPARATOR}, {2, "Record", MF_GRAYED}, {3, "Snapshot", MF_CHECKED}};
  auto press = [&](uint32_t keysym) {
    xcb_keycode_t code = p.keyCode(keysym);
    p.fake(XCB_KEY_PRESS, code);
    p.fake(XCB_KEY_RELEASE, code);
  };
  auto click = [&](int x, int y) {
    p.fake(XCB_MOTION_NOTIFY, 0, x, y);
    p.fake(XCB_BUTTON_PRESS, 1);
    p.fake(XCB_BUTTON_RELEASE, 1);
  };
  struct Case {
    const char* what;
    Point at;
    std::function<void(const Rect& menu)> act;
    UINT answer;
  } cases[] = {
      {"a click on the first item", {500, 400}, [&](const Rect& m) { click(m.left + 30, m.top + 12); }, 1},
      {"down twice skips the separator and the grayed item",
       {500, 400},
       [&](const Rect&) {
         press(0xFF54);
         press(0xFF54);
         press(0xFF0D);
       },
       3},
      {"a click outside", {500, 400}, [&](const Rect& m) { click(m.left - 40, m.top - 40); }, 0},
      {"escape, near the screen's corner", {1900, 1070}, [&](const Rect&) { press(0xFF1B); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto answer = std::async(std::launch::async, [&] { return desktop_->trackPopupMenu(0, items, c.at); });
    Rect menu;
    ASSERT_TRUE(eventually([&] { return !(menu = p.menuRect()).isEmpty(); }));
    // Opened at the point, or moved so that all of it stays on the screen.
    EXPECT_TRUE(Rect({0, 0, 1920, 1080}).intersect(menu) == menu);
    if (c.at.x < 1000) {
      EXPECT_EQ((Point{menu.left, menu.top}), c.at);
    }
    c.act(menu);
    ASSERT_EQ(answer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(answer.get(), c.answer);
    EXPECT_TRUE(eventually([&] { return p.menuRect().isEmpty(); }));
  }
}

// Under a window manager: the dock lands where asked, the browser's frame
// counts in its window rectangle, the dock can be raised, and restacking it
// never takes it below the browser that owns it.
TEST(X11DesktopManaged, DockStaysAboveItsOwnerWhateverTheRestack) {
  test::Watchdog watchdog(60s, "ui_x11_test managed");
  Xvfb xvfb;
  ASSERT_TRUE(xvfb.error().empty()) << xvfb.error();
  Probe p(xvfb.display());
  Openbox wm(xvfb.display());
  ASSERT_TRUE(wm.error().empty()) << wm.error();
  // No window system yet to pump: poll the root window's property.
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!p.cardinal(p.root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_NE(p.cardinal(p.root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW), 0u) << "openbox did not start";
  std::string error;
  auto backend = X11Desktop::open({xvfb.display().c_str(), true}, &error);
  ASSERT_TRUE(backend) << error;
  X11Desktop* desktop = backend.get();
  ASSERT_TRUE(WindowSystem::install(std::move(backend)));
  struct Uninstall {
    ~Uninstall() {
      pumpPendingMessages();
      WindowSystem::uninstall();
    }
  } uninstall;

  // A client placed by its own request: user position, static gravity.
  auto client = [&](int x, int y, int w, int h) {
    xcb_window_t win = xcb_generate_id(p.get());
    xcb_create_window(p.get(), XCB_COPY_FROM_PARENT, win, p.root(), static_cast<int16_t>(x), static_cast<int16_t>(y),
                      static_cast<uint16_t>(w), static_cast<uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    uint32_t hints[18] = {1 | 2 | 512, static_cast<uint32_t>(x), static_cast<uint32_t>(y), static_cast<uint32_t>(w),
                          static_cast<uint32_t>(h)};
    hints[17] = 10;
    p.set(win, "WM_NORMAL_HINTS", "WM_SIZE_HINTS", 32, hints, 18);
    xcb_map_window(p.get(), win);
    xcb_flush(p.get());
    return win;
  };
  xcb_window_t browser = client(100, 120, 640, 480);
  const HWND browserHandle = browser | kForeignHandleBit;
  // openbox drops map requests that arrive while it is still starting up;
  // asking again is what a client would do.
  ASSERT_TRUE(pumpMessagesUntil(
      [&] {
        xcb_map_window(p.get(), browser);
        xcb_flush(p.get());
        return p.viewableRect(browser) == Rect{100, 120, 740, 600};
      },
      5s))
      << [&] {
           Rect r = p.viewableRect(browser);
           return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.width()) + "x" +
                  std::to_string(r.height());
         }();

  Filled dock(colorRef(kBlue));
  HWND top = dock.create(browserHandle, {300, 200, 700, 500}, "dock", WS_POPUP | WS_VISIBLE);
  ASSERT_NE(top, 0u);
  EXPECT_TRUE(pumpMessagesUntil(
      [&] {
        return p.viewableRect(desktop->xWindowOf(top)) == Rect{300, 200, 700, 500};
      },
      5s));
  auto info = desktop->windowInfo(browserHandle);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->clientRect, (Rect{100, 120, 740, 600}));
  EXPECT_LT(info->windowRect.top, info->clientRect.top) << "the title bar belongs to the window rectangle";

  // Another window comes on top; the dock can be raised over it.
  xcb_window_t other = client(500, 300, 300, 300);
  const HWND otherHandle = other | kForeignHandleBit;
  auto order = [&](std::vector<HWND> expected) {
    std::vector<HWND> seen;
    bool ok = pumpMessagesUntil(
        [&] {
          seen.clear();
          for (HWND h : desktop->topLevelWindows()) {
            if (std::find(expected.begin(), expected.end(), h) != expected.end()) seen.push_back(h);
          }
          return seen == expected;
        },
        5s);
    return ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << ::testing::PrintToString(seen);
  };
  EXPECT_TRUE(order({otherHandle, top, browserHandle}));
  setWindowPos(top, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_TRUE(order({top, otherHandle, browserHandle}));
  // Then sent to the bottom and below its owner: the window manager keeps it
  // above the browser. The other window, raised after those requests (and
  // so handled after them), shows when they are done.
  setWindowPos(top, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  setWindowPos(top, browserHandle, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  xcb_client_message_event_t raise{};
  raise.response_type = XCB_CLIENT_MESSAGE;
  raise.format = 32;
  raise.window = other;
  raise.type = p.atom("_NET_ACTIVE_WINDOW");
  raise.data.data32[0] = 2;
  xcb_send_event(p.get(), 0, p.root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&raise));
  xcb_flush(p.get());
  EXPECT_TRUE(order({otherHandle, top, browserHandle}));
}

// Logs the dots per inch each WM_DPICHANGED brings.
class DpiLog : public Window {
 public:
  std::vector<UINT> heard;
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_DPICHANGED) heard.push_back(HIWORD(w));
    return defaultHandle(msg, w, l);
  }
};

// The window system on a bare Xvfb, for what needs no window manager.
class X11DesktopPlain : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xvfb_.error().empty()) << xvfb_.error();
    probe_ = std::make_unique<Probe>(xvfb_.display());
    setResources("Xft.dpi:\t96\n");
    std::string error;
    auto backend = X11Desktop::open({xvfb_.display().c_str(), true}, &error);
    ASSERT_TRUE(backend) << error;
    ASSERT_TRUE(WindowSystem::install(std::move(backend)));
    installed_ = true;
  }
  void TearDown() override {
    if (!installed_) return;
    pumpPendingMessages();
    WindowSystem::uninstall();
  }
  void setResources(const std::string& text) {
    probe_->set(probe_->root(), "RESOURCE_MANAGER", "STRING", 8, text.data(), static_cast<uint32_t>(text.size()));
  }

  test::Watchdog watchdog_{60s, "ui_x11_test plain"};
  Xvfb xvfb_;
  std::unique_ptr<Probe> probe_;
  bool installed_ = false;
};

// A new Xft.dpi in the resource database reaches every top-level window of
// ours, hidden ones too (the shell's dialog is never shown), once per change.
TEST_F(X11DesktopPlain, ANewXftDpiReachesEveryTopLevelWindowOnce) {
  DpiLog shown;
  DpiLog hidden;
  ASSERT_NE(shown.create(0, {10, 10, 110, 110}, "shown", WS_POPUP | WS_VISIBLE), 0u);
  ASSERT_NE(hidden.create(0, {0, 0, 10, 10}, "hidden", WS_POPUP), 0u);
  EXPECT_EQ(getDpiForWindow(shown.hwnd()), 96u);

  setResources("Xft.antialias:\t1\nXft.dpi:\t144\n");
  EXPECT_TRUE(pumpMessagesUntil([&] { return !shown.heard.empty() && !hidden.heard.empty(); }, 5s));
  EXPECT_EQ(getDpiForWindow(shown.hwnd()), 144u);
  // Other resources change, the dots per inch stay: nothing to hear.
  setResources("Xft.antialias:\t0\nXft.dpi:\t144\n");
  setResources("Xft.dpi:\t120\n");
  EXPECT_TRUE(pumpMessagesUntil([&] { return shown.heard.size() >= 2 && hidden.heard.size() >= 2; }, 5s));
  pumpPendingMessages();
  EXPECT_EQ(shown.heard, (std::vector<UINT>{144, 120}));
  EXPECT_EQ(hidden.heard, (std::vector<UINT>{144, 120}));
}

// A clip taken while the button is down holds the pointer inside it until
// the button comes up, even when nobody lifts the clip; the pointer is free
// after that.
TEST_F(X11DesktopPlain, AClipDuringADragHoldsThePointerUntilTheButtonComesUp) {
  Probe& p = *probe_;
  test::InputLog window;
  window.setClassBackground(colorRef(kBlue));
  const HWND top = window.create(0, {100, 100, 500, 400}, "cell", WS_POPUP | WS_VISIBLE);
  ASSERT_NE(top, 0u);
  auto got = [&](UINT msg) {
    return std::any_of(window.log.begin(), window.log.end(), [&](const auto& m) { return m.msg == msg; });
  };
  auto pointerAt = [&](Point at) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (p.pointer() != at && std::chrono::steady_clock::now() < deadline) pumpMessagesUntil([] { return false; }, 5ms);
    return p.pointer() == at;
  };
  ASSERT_TRUE(pumpMessagesUntil([&] { return p.pixel(200, 200) == kBlue; }, 5s)) << "window not on screen";

  p.fake(XCB_MOTION_NOTIFY, 0, 200, 200);
  p.fake(XCB_BUTTON_PRESS, 1);
  ASSERT_TRUE(pumpMessagesUntil([&] { return got(WM_LBUTTONDOWN); }, 5s));
  const Rect confine{150, 150, 300, 300};
  ASSERT_TRUE(clipCursor(&confine));
  // The server holds the pointer in place: it never leaves, not even
  // until we could move it back.
  p.fake(XCB_MOTION_NOTIFY, 0, 800, 700);
  EXPECT_EQ(p.pointer(), (Point{299, 299}));
  p.fake(XCB_MOTION_NOTIFY, 0, 20, 20);
  EXPECT_EQ(p.pointer(), (Point{150, 150}));

  p.fake(XCB_BUTTON_RELEASE, 1);
  ASSERT_TRUE(pumpMessagesUntil([&] { return got(WM_LBUTTONUP); }, 5s));
  p.fake(XCB_MOTION_NOTIFY, 0, 800, 700);
  EXPECT_TRUE(pointerAt({800, 700})) << "pointer held after the button came up";
  EXPECT_TRUE(clipCursor(nullptr));
}

INSTANTIATE_TEST_SUITE_P(Presenting, X11DesktopTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Shared" : "PutImage"; });

}  // namespace
}  // namespace ui
