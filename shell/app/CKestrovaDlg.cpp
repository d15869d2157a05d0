#include "shell/app/CKestrovaDlg.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/sockhub/SockHub.h"
#include "platform/ui/FontRegistry.h"
#include "platform/ui/WindowApi.h"
#include "plugin/api/ksplugs.h"
#include "shell/app/OriginJudge.h"
#include "shell/command/EventPush.h"
#include "shell/command/ServerBoundary.h"
#include "shell/command/ShellState.h"
#include "shell/services/ServiceConfig.h"
#include "shell/services/UpgradeWatcher.h"

namespace kestrova {
namespace {

constexpr ui::WPARAM kCancelResult = 2;

std::string serverFailure(const ServiceConfig& config, int result) {
  if (config.wsPort < 0) return "KESTROVA_WS_PORT is not a port number (0 to 65535); no WebSocket server";
  const std::string where = "127.0.0.1:" + std::to_string(config.wsPort);
  if (result == SOCKHUB_ERR_BIND) {
    return "cannot listen on " + where + ": the port is in use by another program or not available";
  }
  return "the WebSocket server on " + where + " could not start (SockHub code " + std::to_string(result) + ")";
}

}  // namespace

CKestrovaDlg::CKestrovaDlg() = default;

CKestrovaDlg::~CKestrovaDlg() {
  if (font_ != 0) ui::deleteFont(font_);
}

bool CKestrovaDlg::createHidden() {
  // Never WS_VISIBLE; the position handler below keeps it that way.
  if (create(0, ui::Rect{0, 0, 320, 200}, std::string_view("Kestrova"), ui::WS_POPUP, 0, "KestrovaDlg") == 0) {
    return false;
  }
  // The window's font is what the library's docks take as theirs.
  font_ = ui::createFont("Segoe UI", 12 * static_cast<int>(ui::getDpiForWindow(hwnd())) / 96);
  sendMessage(ui::WM_SETFONT, font_, 0);
  return true;
}

std::string CKestrovaDlg::onInitDialog() {
  const ui::UINT dpi = ui::getDpiForWindow(hwnd());
  ShellState& state = shellState();
  state.dpiRadio = dpi * 100 / 96;
  state.dialogWindow = hwnd();

  std::srand(static_cast<unsigned>(std::time(nullptr)));
  curl_global_init(CURL_GLOBAL_ALL);
  KsComGlobalInit();
  setPushSender(sendToConnection);
  KsComInitActiveNotify(onActiveNotify, nullptr);

  CommandEnv env;
  env.createDock = [](int dockType, void* record) {
    return static_cast<int>(ui::sendMessage(shellState().dialogWindow.load(), WM_CREATE_DOCK,
                                            static_cast<ui::WPARAM>(dockType), reinterpret_cast<ui::LPARAM>(record)));
  };
  dispatcher_ = std::make_unique<Dispatcher>(std::move(env));
  installDispatcher(dispatcher_.get());

  // Pages from origins nobody listed are asked about from the first
  // connection on. A server that cannot start (a bad port, the port taken)
  // ends the start here: the caller reports it and closes the window.
  const ServiceConfig config = ServiceConfig::fromEnvironment();
  originJudge_ =
      std::make_unique<OriginJudge>(TrustedOrigins(config.trustedOriginsFile), hwnd(), ui::desktopOnScreen());
  originJudge_->install();
  if (const int started = startServer(config); started != SOCKHUB_OK) return serverFailure(config, started);

  UpgradeWatcher::Hooks hooks;
  hooks.aliveDeviceCount = [] { return KsComGetAliveDeviceCount(); };
  const ui::HWND self = hwnd();
  hooks.requestClose = [self] { ui::postMessage(self, ui::WM_CLOSE); };
  hooks.setPendingInstaller = [this](const std::string& path) { setPendingInstaller(path); };
  watcher_ = std::make_unique<UpgradeWatcher>(std::move(hooks), state.upgradePending, config);
  watcher_->start();

  SockHubReceiveDataParam receive{onReceiveData};
  SockHub_ReceiveDataIf(&receive);
  SockHubClientActionParam action{onClientAction};
  SockHub_ClientActiontIf(&action);
  return {};
}

void CKestrovaDlg::setPendingInstaller(const std::string& path) {
  std::lock_guard lock(installerLock_);
  pendingInstallerPath_ = path;
}

std::string CKestrovaDlg::pendingInstaller() const {
  std::lock_guard lock(installerLock_);
  return pendingInstallerPath_;
}

ui::LRESULT CKestrovaDlg::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  switch (msg) {
    case ui::WM_WINDOWPOSCHANGING:
      return onWindowPosChanging(wParam, lParam);
    case ui::WM_DPICHANGED:
      return onDpiChanged(wParam);
    case WM_CREATE_DOCK:
      return onCreateDock(wParam, lParam);
    case ui::WM_CLOSE:
      onClose();
      return 0;
    case ui::WM_KEYDOWN:
    case ui::WM_KEYUP:
      return 0;  // Enter and Escape never end the shell
    default:
      return defaultHandle(msg, wParam, lParam);
  }
}

ui::LRESULT CKestrovaDlg::onWindowPosChanging(ui::WPARAM wParam, ui::LPARAM lParam) {
  const ui::LRESULT result = defaultHandle(ui::WM_WINDOWPOSCHANGING, wParam, lParam);
  if (auto* pos = reinterpret_cast<ui::WINDOWPOS*>(lParam); pos != nullptr) pos->flags &= ~ui::SWP_SHOWWINDOW;
  return result;
}

ui::LRESULT CKestrovaDlg::onDpiChanged(ui::WPARAM wParam) {
  shellState().dpiRadio = static_cast<uint32_t>(ui::HIWORD(wParam)) * 100 / 96;
  return 0;
}

ui::LRESULT CKestrovaDlg::onCreateDock(ui::WPARAM wParam, ui::LPARAM lParam) {
  const auto font = static_cast<KsFont>(sendMessage(ui::WM_GETFONT));
  const int dockType = static_cast<int>(wParam);
  void* record = reinterpret_cast<void*>(lParam);
  if (record != nullptr) {
    if (dockType == 1) static_cast<LiveControlParam*>(record)->preview.font = font;
    if (dockType == 2) static_cast<PlaybackControlParam*>(record)->preview.font = font;
  }
  return KsComCreatePreviewerDock(dockType, record);
}

void CKestrovaDlg::onClose() {
  if (closing_) return;
  closing_ = true;
  if (watcher_) watcher_->stop();

  // Open questions are answered no before the server stops.
  if (originJudge_) originJudge_->closeAll();

  // Stopping the server waits for the commands that are running; one of them
  // may be waiting for this thread to create a dock, so keep handling
  // messages while another thread stops the server.
  std::atomic<bool> stopped{false};
  std::thread stopper([&stopped] {
    SockHub_Stop();
    stopped = true;
  });
  while (!stopped.load()) ui::pumpMessagesUntil([&stopped] { return stopped.load(); }, std::chrono::milliseconds(50));
  stopper.join();
  installDispatcher(nullptr);

  KsComGlobalUninit();
  curl_global_cleanup();

  // Both servers (the WebSocket server above, the library's download server
  // with the library) are closed by now, so the installer finds the ports
  // free and holds none of our sockets.
  if (const std::string installer = pendingInstaller(); !installer.empty()) launchInstaller(installer);

  destroyWindow();
  ui::postQuitMessage(static_cast<int>(kCancelResult));
}

}  // namespace kestrova
