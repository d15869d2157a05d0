#pragma once
// The desktop backends the window layer can run on. Start-up code picks one
// and hands it to WindowSystem::install; nothing else needs to know which
// concrete backend is in use.
#include <memory>
#include <string>

#include "platform/ui/Backend.h"

namespace ui {

// The in-memory desktop: one 1920 x 1080 monitor, no real screen. Any thread.
std::unique_ptr<Backend> makeHeadlessBackend();

// The X display named by DISPLAY. Null, with the reason in error when given,
// when no display can be opened or its screen cannot show our pixels.
std::unique_ptr<Backend> makeX11Backend(std::string* error);

// What start-up uses: KESTROVA_UI=x11 or headless chooses; without it, X11
// when DISPLAY is set and headless otherwise. An X11 desktop that cannot be
// opened falls back to the headless one with one line on stderr.
std::unique_ptr<Backend> makeBackendFromEnvironment();

}  // namespace ui
