#pragma once
// A page in front of the shell, in one process on the headless desktop: the
// shell's hidden dialog with its WebSocket server and the plug-in library run
// on the calling thread (the user-interface thread), a client thread plays
// the page, and foreign "browser" windows belong to this process so that the
// page's TCP port leads the library to them. Devices are device simulators
// over real TCP, owned by the caller.
//
// Threads: everything here runs on the user-interface thread except the
// client's work inside asPage(), which has that thread pumping messages
// until it ends. pushes_ is written only by page work and read after it.
#include <arpa/inet.h>
#include <json/reader.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/Messages.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/HeadlessDesktop.h"
#include "shell/app/CKestrovaDlg.h"
#include "tests/support/FreePort.h"
#include "tests/support/WsClient.h"
#include "tools/devsim/DevSimServer.h"

namespace kstest {

// Starts the shell's hidden dialog with its WebSocket server on a free port
// (KESTROVA_WS_PORT is set to it). Another process may take the port between
// its choice and the bind, so a start that cannot listen tries again on a new
// port. False with the reason in *error.
inline bool startShellDialog(std::unique_ptr<kestrova::CKestrovaDlg>& dialog, uint16_t& port, std::string* error) {
  std::string reason;
  for (int attempt = 0; attempt < 5; ++attempt) {
    port = freeTcpPort();
    ::setenv("KESTROVA_WS_PORT", std::to_string(port).c_str(), 1);
    dialog = std::make_unique<kestrova::CKestrovaDlg>();
    if (!dialog->createHidden()) {
      reason = "dialog";
      break;
    }
    reason = dialog->onInitDialog();
    if (reason.empty()) return true;
    ui::postMessage(dialog->hwnd(), ui::WM_CLOSE);
    ui::pumpMessagesUntil([&] { return !ui::isWindow(dialog->hwnd()); }, std::chrono::seconds(10));
    dialog.reset();
  }
  if (error != nullptr) *error = reason;
  return false;
}

class LivePageHarness {
 public:
  static constexpr ui::COLORREF kCellBackground = ui::RGB(0x48, 0x4D, 0x5A);
  static constexpr ui::COLORREF kBrowserColor = ui::RGB(200, 200, 200);
  static constexpr ui::COLORREF kDesktopColor = ui::RGB(0x10, 0x20, 0x30);
  static constexpr ui::COLORREF kDockFill = ui::RGB(255, 255, 255);

  LivePageHarness() = default;
  ~LivePageHarness() { stop(); }
  LivePageHarness(const LivePageHarness&) = delete;
  LivePageHarness& operator=(const LivePageHarness&) = delete;

  // The headless desktop, a private temporary folder, the dialog on a free
  // port and the page connected to it. False with the reason in *error.
  bool start(std::string* error) {
    auto backend = std::make_unique<ui::HeadlessDesktop>();
    desktop_ = backend.get();
    if (!ui::WindowSystem::install(std::move(backend))) return fail(error, "window system");
    installed_ = true;
    std::string folder = (std::filesystem::temp_directory_path() / "kestrova-livepage-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return fail(error, "temporary folder");
    tmpDir_ = folder;
    if (const char* old = std::getenv("TMPDIR")) previousTmpDir_ = old;
    ::setenv("TMPDIR", tmpDir_.c_str(), 1);
    uint16_t port = 0;
    if (!startShellDialog(dialog_, port, error)) return false;
    asPage([&] { client_.connect(port); });
    if (!client_.isOpen()) return fail(error, "page connection");
    return true;
  }

  void stop() {
    if (client_.isOpen()) asPage([&] { client_.close(std::chrono::seconds(2)); });
    if (dialog_ && ui::isWindow(dialog_->hwnd())) {
      ui::postMessage(dialog_->hwnd(), ui::WM_CLOSE);
      ui::pumpMessagesUntil([&] { return !ui::isWindow(dialog_->hwnd()); }, std::chrono::seconds(10));
    }
    dialog_.reset();
    ::unsetenv("KESTROVA_WS_PORT");
    std::error_code ignored;
    if (!tmpDir_.empty()) {
      std::filesystem::remove_all(tmpDir_, ignored);
      // The next harness of the process makes its folder where this one did.
      if (previousTmpDir_) {
        ::setenv("TMPDIR", previousTmpDir_->c_str(), 1);
      } else {
        ::unsetenv("TMPDIR");
      }
    }
    tmpDir_.clear();
    if (installed_) {
      ui::pumpPendingMessages();
      ui::WindowSystem::uninstall();
      installed_ = false;
    }
    desktop_ = nullptr;
  }

  ui::HeadlessDesktop& desktop() { return *desktop_; }
  const std::string& tmpDir() const { return tmpDir_; }
  std::vector<Json::Value>& pushes() { return pushes_; }

  // A browser window of this process with the client area `client` inside
  // `frame`.
  ui::HWND addBrowser(const std::string& title, const ui::Rect& frame, const ui::Rect& client) {
    ui::ForeignWindowSpec spec;
    spec.processId = static_cast<uint32_t>(::getpid());
    spec.title = title;
    spec.className = "BrowserFrame";
    spec.frame = frame;
    spec.client = client;
    spec.color = kBrowserColor;
    return desktop_->addForeignWindow(spec);
  }

  // Runs `work` on a thread of its own (the page) while this thread handles
  // the user-interface messages, calling `poll` (when given) between them;
  // false when it did not finish in time.
  bool asPage(const std::function<void()>& work, std::chrono::seconds limit = std::chrono::seconds(30),
              const std::function<void()>& poll = {}) {
    std::atomic<bool> done{false};
    std::thread page([&] {
      work();
      done = true;
    });
    const bool finished = ui::pumpMessagesUntil(
        [&] {
          if (poll) poll();
          return done.load();
        },
        limit);
    page.join();  // every client call has its own deadline
    return finished;
  }

  // One request and its reply; pushes that arrive first are kept. `poll`
  // runs on this thread while the page waits.
  Json::Value request(const std::string& text, const std::function<void()>& poll = {}) {
    Json::Value reply;
    asPage(
        [&] {
          if (!client_.sendText(text)) return;
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (std::chrono::steady_clock::now() < deadline) {
            const auto message = client_.receive(std::chrono::seconds(20));
            if (!message) return;
            Json::Value value = parse(*message);
            if (value.isMember("Fountion") && value["Fountion"].asString() == "serverPush") {
              pushes_.push_back(value);
              continue;
            }
            reply = value;
            return;
          }
        },
        std::chrono::seconds(30), poll);
    return reply;
  }

  // Takes the first push that `match` accepts: one kept in pushes() (they
  // may come before a command's reply), or else the next one to arrive
  // within `limit`, keeping the others in pushes(); the user-interface
  // thread pumps meanwhile. Null when none came in time.
  Json::Value waitPush(const std::function<bool(const Json::Value&)>& match, std::chrono::milliseconds limit) {
    for (auto it = pushes_.begin(); it != pushes_.end(); ++it) {
      if (match(*it)) {
        Json::Value found = *it;
        pushes_.erase(it);
        return found;
      }
    }
    Json::Value found;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    asPage(
        [&] {
          for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            const auto message = client_.receive(left);
            if (!message) {
              if (!client_.isOpen()) return;
              continue;
            }
            Json::Value value = parse(*message);
            if (match(value)) {
              found = value;
              return;
            }
            pushes_.push_back(value);
          }
        },
        std::chrono::duration_cast<std::chrono::seconds>(limit) + std::chrono::seconds(5));
    return found;
  }

  // A started device simulator of `channels` channels on free ports, with a
  // one-second picture loop and misbehaving as `hostile` says; null, and the
  // reason in *error, when it cannot listen.
  static std::unique_ptr<devsim::DevSimServer> startSimulator(
      int channels, std::string* error, devsim::HostileMode hostile = devsim::HostileMode::kNone) {
    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    options.channels = channels;
    options.loopSeconds = 1;
    options.hostile = hostile;
    auto device = std::make_unique<devsim::DevSimServer>(options);
    if (!device->start(error)) return nullptr;
    return device;
  }

  // Registers a device simulator's device; its id, or 0.
  uint32_t createDevice(const devsim::DevSimServer& device, const std::string& mac, int channels, int stream = 2) {
    std::string streams;
    for (int i = 0; i < channels; ++i) streams += (i == 0 ? "" : ", ") + std::to_string(stream);
    const Json::Value created =
        request(R"({"msgId": 1, "Fountion": "createDev", "Device": {"MAC": ")" + mac + R"(", "totalChannel": )" +
                std::to_string(channels) + R"(, "cmdPort": )" + std::to_string(device.commandPort()) +
                R"(, "mediaPort": )" + std::to_string(device.mediaPort()) + R"(, "stream": [)" + streams +
                R"(], "resShowBitrate": "Bitrate", "resMainStream": "Main", "resSubStream": "Sub",)"
                R"( "resThirdStream": "Third"}, "Auth": {"usr": "admin", "pwd": "admin", "address": "127.0.0.1"}})");
    return created["code"].asInt() == 200 ? created["uniqueId"].asUInt() : 0;
  }

  // A "live" command of `type` with the body members `body`.
  Json::Value live(uint32_t device, int msgId, int type, const std::string& body, int channel = 0,
                   const std::function<void()>& poll = {}) {
    return request(R"({"msgId": )" + std::to_string(msgId) + R"(, "Fountion": "live", "LiveCtrl": {"type": )" +
                       std::to_string(type) + R"(, "uniqueId": )" + std::to_string(device) + R"(, "channel": )" +
                       std::to_string(channel) + ", " + body + "}}",
                   poll);
  }

  // Live-view docks of this process: top-level windows of the dock's class
  // and those under the desktop window.
  static std::vector<ui::HWND> docks() {
    std::vector<ui::HWND> found;
    for (ui::HWND window : ui::getTopLevelWindows())
      if (ui::getClassName(window) == "CPreviewManager") found.push_back(window);
    for (ui::HWND window : ui::getChildWindows(ui::getDesktopWindow()))
      if (ui::getClassName(window) == "CPreviewManager" && std::find(found.begin(), found.end(), window) == found.end())
        found.push_back(window);
    return found;
  }

  // Every descendant of `window`, depth first.
  static void collectDescendants(ui::HWND window, std::vector<ui::HWND>& out) {
    for (ui::HWND child : ui::getChildWindows(window)) {
      out.push_back(child);
      collectDescendants(child, out);
    }
  }

  // The cell whose caption is `name`: the parent of the label with that text.
  static ui::HWND cellCaptioned(ui::HWND dock, std::u16string_view name) {
    std::vector<ui::HWND> all;
    collectDescendants(dock, all);
    for (ui::HWND part : all)
      if (ui::getWindowTextW(part) == name && ui::getClassName(ui::getParent(part)) == "CPreviewer")
        return ui::getParent(part);
    return 0;
  }

  // The video surface of a cell.
  static ui::HWND surfaceOf(ui::HWND cell) {
    for (ui::HWND child : ui::getChildWindows(cell))
      if (ui::getClassName(child) == "CPlayerWnd") return child;
    return 0;
  }

  // Whether the area `r` of the capture shows a picture: enough sampled
  // pixels that are neither an empty cell, the dock, a browser nor the
  // desktop. `step` is the sampling distance in pixels.
  static bool pictureIn(const ui::Image& image, const ui::Rect& r, int step = 6) {
    int other = 0;
    for (int y = r.top; y < r.bottom; y += step)
      for (int x = r.left; x < r.right; x += step) {
        const ui::COLORREF c = image.colorAt(x, y);
        if (c != kCellBackground && c != kBrowserColor && c != kDesktopColor && c != kDockFill) ++other;
      }
    return other > 20;
  }

  // The inside of a cell's screen rectangle, below its label row and clear
  // of its borders.
  static ui::Rect pictureArea(const ui::Rect& cell) {
    return ui::Rect{cell.left + 10, cell.top + 30, cell.right - 10, cell.bottom - 10};
  }

  static Json::Value parse(const std::string& text) {
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(text);
    if (!Json::parseFromStream(builder, in, &value, &errors)) return Json::Value();
    return value;
  }

 private:
  static bool fail(std::string* error, const char* what) {
    if (error != nullptr) *error = what;
    return false;
  }

  ui::HeadlessDesktop* desktop_ = nullptr;
  bool installed_ = false;
  std::unique_ptr<kestrova::CKestrovaDlg> dialog_;
  std::string tmpDir_;
  std::optional<std::string> previousTmpDir_;
  WsClient client_;
  std::vector<Json::Value> pushes_;
};

}  // namespace kstest
