#pragma once
// The Save-As dialog of the X11 desktop: zenity's file selection, run as a
// child process while the calling thread waits, as a modal dialog would.
#include <optional>
#include <string>

#include "platform/ui/Backend.h"

namespace ui {

// The chosen path (with the request's default extension added when the
// name has none), or nullopt when cancelled or when zenity is not on PATH.
// display: the X display the dialog opens on; null keeps $DISPLAY.
std::optional<std::string> runZenitySaveDialog(const SaveDialogRequest& request, const char* display);

}  // namespace ui
