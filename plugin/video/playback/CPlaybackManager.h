#pragma once
// The playback dock of one device: a tool window owned by the browser window
// and laid over the page like the live-view dock, holding one player cell
// (a video cell with the playback mark) that plays the device's recordings.
// The page's timeline and buttons drive it through the playback commands.
//
// Threads: as every dock (DockWindow): the window belongs to the shell's
// user-interface thread, which creates and closes it. Command threads reach
// the player through its operations, which run on that thread.
#include <atomic>
#include <memory>

#include "plugin/video/dock/DockWindow.h"

namespace ksplugs {

class CPreviewer;

class CPlaybackManager : public DockWindow {
 public:
  explicit CPlaybackManager(std::shared_ptr<const VideoServices> services = nullptr);

  const char* dockClassName() const override { return "CPlaybackManager"; }
  // The player cell; null before the window is made and after it is gone.
  CPreviewer* player() const { return player_.load(std::memory_order_acquire); }
  // The player when its recorded stream is open on `channel`, else null.
  CPreviewer* findOpenCell(int channel) const;
  // Stops a running playback (device teardown, window destruction).
  void releasePlayer();
  // Shows or hides the player's window, on the dock's thread.
  void showPlayer(bool show);

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 protected:
  void releaseSession() override;
  void onDockGone() override;

 private:
  ui::LRESULT onCreate();
  void onPaint();

  // Written on the UI thread at creation and when the window is gone; read
  // by command threads, hence atomic.
  std::atomic<CPreviewer*> player_{nullptr};
};

}  // namespace ksplugs
