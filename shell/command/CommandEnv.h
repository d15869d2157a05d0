#pragma once
// What a command handler reaches besides its request: the plug-in library and
// the user-interface thread's dock creation.
#include <functional>

#include "shell/command/PluginApi.h"

namespace kestrova {

struct CommandEnv {
  // The library's exports; never null.
  const PluginApi* plugin = &realPluginApi();
  // Creates a dock on the user-interface thread and answers the library's
  // result (the WM_CREATE_DOCK round trip). dockType 1 live, 2 playback; the
  // record is the caller's LiveControlParam or PlaybackControlParam, which
  // the UI thread completes with its font. Unset: 1005 (no window to ask).
  std::function<int(int dockType, void* record)> createDock;
};

}  // namespace kestrova
