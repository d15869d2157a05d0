#pragma once
// The desktop backends the window layer can run on. Start-up code picks one
// and hands it to WindowSystem::install; nothing else needs to know which
// concrete backend is in use.
#include <memory>

#include "platform/ui/Backend.h"

namespace ui {

// The in-memory desktop: one 1920 x 1080 monitor, no real screen. Any thread.
std::unique_ptr<Backend> makeHeadlessBackend();

}  // namespace ui
