#include "shell/app/CKestrovaApp.h"

#include <cstdio>

#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"
#include "shell/app/CKestrovaDlg.h"
#include "shell/app/CrashDump.h"
#include "shell/app/ExitCode.h"
#include "shell/app/SignalWatcher.h"
#include "shell/app/SingleInstance.h"

namespace kestrova {

int CKestrovaApp::run() {
  installCrashHandler();
  SingleInstance instance(SingleInstance::configuredName());
  switch (instance.acquire()) {
    case SingleInstance::Outcome::kAcquired:
      break;
    case SingleInstance::Outcome::kAlreadyRunning:
      std::fprintf(stderr, "kestrova: another instance is already running for this user (guard \"%s\")\n",
                   SingleInstance::configuredName().c_str());
      return kExitAlreadyRunning;
    case SingleInstance::Outcome::kFailed:
      std::fprintf(stderr, "kestrova: the single-instance guard \"%s\" could not be made\n",
                   SingleInstance::configuredName().c_str());
      return kExitNoInstanceGuard;
  }

  ui::WindowSystem::install(ui::makeBackendFromEnvironment());
  int status = kExitOk;
  {
    CKestrovaDlg dialog;
    if (dialog.createHidden()) {
      const ui::HWND window = dialog.hwnd();
      SignalWatcher signals([window] { ui::postMessage(window, ui::WM_CLOSE); });
      if (const std::string failure = dialog.onInitDialog(); !failure.empty()) {
        // Without its server the shell is of no use to any page: it says
        // why and ends through the normal shutdown.
        std::fprintf(stderr, "kestrova: %s\n", failure.c_str());
        status = kExitNoServer;
        ui::postMessage(window, ui::WM_CLOSE);
      }
      ui::runMessageLoop();
    } else {
      std::fprintf(stderr, "kestrova: the main window could not be created\n");
      status = kExitNoWindow;
    }
  }
  ui::WindowSystem::uninstall();
  instance.release();
  return status;
}

}  // namespace kestrova
