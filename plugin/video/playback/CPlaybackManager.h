#pragma once
// The playback dock of one device: a tool window owned by the browser window
// and laid over the page like the live-view dock. Its player cell and the
// recorded stream come with the playback work; until then the window is a
// bare white area that follows the browser.
//
// Threads: as every dock (DockWindow): the window belongs to the shell's
// user-interface thread, which creates and closes it.
#include <memory>

#include "plugin/video/dock/DockWindow.h"

namespace ksplugs {

class CPlaybackManager : public DockWindow {
 public:
  explicit CPlaybackManager(std::shared_ptr<const VideoServices> services = nullptr);

  const char* dockClassName() const override { return "CPlaybackManager"; }
  // Releases the player of a running playback; no player runs yet.
  void releasePlayer() {}

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;
};

}  // namespace ksplugs
