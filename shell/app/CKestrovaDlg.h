#pragma once
// The shell's one window: hidden for its whole life, it owns the process's
// message loop (the user-interface thread) and does for other threads what
// must happen there: dock creation, the DPI change, and shutdown.
//
// Threads: created, initialised and closed on the user-interface thread.
// Command threads reach it only through sendMessage(WM_CREATE_DOCK); the
// upgrade watcher through postMessage(WM_CLOSE) and setPendingInstaller.
#include <memory>
#include <mutex>
#include <string>

#include "platform/ui/Window.h"
#include "shell/command/Dispatcher.h"

namespace kestrova {

class OriginJudge;
class UpgradeWatcher;

// wParam: dock type (1 live, 2 playback); lParam: the command's record.
// The result is the library's answer to the dock creation.
inline constexpr ui::UINT WM_CREATE_DOCK = ui::WM_USER + 0x77;

class CKestrovaDlg : public ui::Window {
 public:
  CKestrovaDlg();
  ~CKestrovaDlg() override;

  // Creates the hidden window with its font; false when that fails.
  bool createHidden();
  // Services start-up, in order: random seed, HTTP library, plug-in library,
  // its notify callback, the WebSocket server, the upgrade watcher, the
  // server's callbacks. Empty when all started; otherwise why the WebSocket
  // server could not start (nothing after it was started, and closing the
  // window tears down the rest).
  std::string onInitDialog();

  // Written by the upgrade watcher's thread, read once at shutdown.
  void setPendingInstaller(const std::string& path);
  std::string pendingInstaller() const;

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 private:
  ui::LRESULT onWindowPosChanging(ui::WPARAM wParam, ui::LPARAM lParam);
  ui::LRESULT onDpiChanged(ui::WPARAM wParam);
  ui::LRESULT onCreateDock(ui::WPARAM wParam, ui::LPARAM lParam);
  void onClose();

  ui::HFONT font_ = 0;
  std::unique_ptr<Dispatcher> dispatcher_;    // UI thread: made at init, dropped at close
  std::unique_ptr<UpgradeWatcher> watcher_;   // UI thread: started at init, stopped at close
  std::unique_ptr<OriginJudge> originJudge_;  // UI thread: made at init, closed at close
  bool closing_ = false;                      // UI thread only
  mutable std::mutex installerLock_;
  std::string pendingInstallerPath_;  // guarded by installerLock_
};

}  // namespace kestrova
