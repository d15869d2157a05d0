#include "shell/app/CKestrovaApp.h"

#include "platform/ui/backends/Backends.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "shell/app/CKestrovaDlg.h"
#include "shell/app/SignalWatcher.h"
#include "shell/app/SingleInstance.h"
#include "shell/app/CrashDump.h"

namespace kestrova {

int CKestrovaApp::run() {
  installCrashHandler();
  SingleInstance instance(SingleInstance::configuredName());
  if (!instance.acquire()) return 0;  // another shell serves this user: end silently

  ui::WindowSystem::install(ui::makeBackendFromEnvironment());
  int status = 0;
  {
    CKestrovaDlg dialog;
    if (dialog.createHidden()) {
      const ui::HWND window = dialog.hwnd();
      SignalWatcher signals([window] { ui::postMessage(window, ui::WM_CLOSE); });
      dialog.onInitDialog();
      ui::runMessageLoop();
    } else {
      status = 1;
    }
  }
  ui::WindowSystem::uninstall();
  instance.release();
  return status;
}

}  // namespace kestrova
