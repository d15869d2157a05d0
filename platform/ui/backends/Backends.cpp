#include "platform/ui/backends/Backends.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/ui/backends/X11Desktop.h"

namespace ui {

std::unique_ptr<Backend> makeX11Backend(std::string* error) { return X11Desktop::open(X11Options{}, error); }

std::unique_ptr<Backend> makeBackendFromEnvironment() {
  const char* choice = std::getenv("KESTROVA_UI");
  const char* display = std::getenv("DISPLAY");
  std::string_view ui = choice ? choice : "";
  bool wantX11 = ui == "x11" || (ui.empty() && display && *display);
  if (!ui.empty() && ui != "x11" && ui != "headless") {
    std::fprintf(stderr, "kestrova: KESTROVA_UI=%s is neither x11 nor headless; using the headless desktop\n", choice);
  }
  if (wantX11) {
    std::string error;
    if (auto x11 = makeX11Backend(&error)) return x11;
    std::fprintf(stderr, "kestrova: %s; using the headless desktop\n", error.c_str());
  }
  return makeHeadlessBackend();
}

}  // namespace ui
