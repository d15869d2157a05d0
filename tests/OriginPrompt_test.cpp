// A page from an origin nobody listed, against the shell on a real X
// display: the user is asked in a window of the shell's, and the button
// clicked decides. Allow once lets this connection in and asks again next
// time; Deny refuses; Always lets it in and writes the origin to the user's
// file, so the next connection comes in without a question.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/ui/testing/Xvfb.h"
#include "shell/app/OriginPrompt.h"
#include "tests/support/ShellProcess.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WsClient.h"

namespace {

using namespace std::chrono_literals;
using kestrova::OriginPrompt;
using kstest::ShellProcess;
using kstest::WsClient;

// Another client of the display: finds the prompt and clicks it.
class Desktop {
 public:
  explicit Desktop(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
  }
  ~Desktop() { xcb_disconnect(c_); }
  bool ok() const { return !xcb_connection_has_error(c_); }

  // The viewable top-level window of `pid` titled `title`: its origin on the screen.
  std::optional<std::pair<int, int>> findWindow(uint32_t pid, const std::string& title) {
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, screen_->root), nullptr);
    if (!tree) return std::nullopt;
    std::optional<std::pair<int, int>> found;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      const xcb_window_t w = children[i];
      auto* attributes = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
      const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      free(attributes);
      if (!viewable || property(w, "_NET_WM_PID") != std::to_string(pid) || property(w, "_NET_WM_NAME") != title)
        continue;
      auto* geometry = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
      if (geometry) found = std::make_pair(int{geometry->x}, int{geometry->y});
      free(geometry);
    }
    free(tree);
    return found;
  }

  void click(int x, int y) {
    xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen_->root, static_cast<int16_t>(x),
                        static_cast<int16_t>(y), 0);
    xcb_test_fake_input(c_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(c_);
  }

 private:
  // A CARDINAL as decimal text, or a UTF-8 text.
  std::string property(xcb_window_t w, const char* name) {
    auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::strlen(name), name), nullptr);
    if (!atom) return {};
    auto* reply = xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                         nullptr);
    free(atom);
    std::string out;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 4) {
      out = std::to_string(*static_cast<uint32_t*>(xcb_get_property_value(reply)));
    } else if (reply && reply->format == 8) {
      out.assign(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    }
    free(reply);
    return out;
  }

  xcb_connection_t* c_;
  xcb_screen_t* screen_ = nullptr;
};

TEST(OriginPrompt, TheButtonTheUserClicksDecides) {
  kstest::Watchdog watchdog(120s, "origin prompt");
  ui::test::Xvfb xvfb;
  ASSERT_TRUE(xvfb.error().empty()) << xvfb.error();
  char config[] = "/tmp/kestrova-prompt-XXXXXX";
  ASSERT_NE(::mkdtemp(config), nullptr);
  ShellProcess::Options options;
  options.extraEnv = {"KESTROVA_UI=x11", "DISPLAY=" + xvfb.display(), std::string("XDG_CONFIG_HOME=") + config};
  ShellProcess shell(options);
  ASSERT_TRUE(shell.start());
  Desktop desktop(xvfb.display());
  ASSERT_TRUE(desktop.ok());

  const std::string origin = "https://cams.example";
  const auto connect = [&] {
    return std::async(std::launch::async, [&] {
      WsClient client;
      WsClient::Options o;
      o.origin = origin;
      o.timeout = 30s;
      return client.connect(shell.port(), o) ? 101u : client.handshakeStatus();
    });
  };
  // Waits for the prompt and clicks one of its buttons until the connection
  // has its answer (clicks right after the prompt appears do not count).
  const auto answer = [&](OriginPrompt::Choice choice, std::future<unsigned>& pending) -> std::optional<unsigned> {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    const auto shownAt = std::chrono::steady_clock::now();
    bool earlyClickIgnored = false;
    while (std::chrono::steady_clock::now() < deadline) {
      if (const auto at = desktop.findWindow(static_cast<uint32_t>(shell.pid()), "Kestrova: allow this page?")) {
        const ui::Rect button = OriginPrompt::buttonRect(choice);
        desktop.click(at->first + (button.left + button.right) / 2, at->second + (button.top + button.bottom) / 2);
        const bool answered = pending.wait_for(50ms) == std::future_status::ready;
        if (!answered && std::chrono::steady_clock::now() - shownAt < OriginPrompt::kArmDelay) earlyClickIgnored = true;
        if (answered) {
          EXPECT_TRUE(earlyClickIgnored || choice != OriginPrompt::Choice::AllowOnce);
          return pending.get();
        }
      } else {
        std::this_thread::sleep_for(10ms);
      }
    }
    return std::nullopt;
  };

  auto first = connect();
  EXPECT_EQ(answer(OriginPrompt::Choice::AllowOnce, first), 101u);
  auto second = connect();
  EXPECT_EQ(answer(OriginPrompt::Choice::Deny, second), 403u);
  auto third = connect();
  EXPECT_EQ(answer(OriginPrompt::Choice::Always, third), 101u);
  // Remembered: in the user's file, and no question any more.
  std::ifstream file(std::string(config) + "/kestrova/trusted-origins");
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), origin + "\n");
  EXPECT_EQ(connect().get(), 101u);
  std::system((std::string("rm -rf '") + config + "'").c_str());
}

}  // namespace
