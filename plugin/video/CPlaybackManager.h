#pragma once
// The playback dock of one device: a tool window owned by the browser window
// and laid over the page like the live-view dock. Its player cell and the
// recorded stream come with the playback work; until then the window is a
// bare white area that follows the browser.
//
// Threads: the window belongs to the shell's user-interface thread, which
// creates it (dock creation) and closes it. `window_`, `shown_` and the owner
// are atomics because the supervision thread and command threads read them.
#include <atomic>

#include "platform/ui/Window.h"

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class CPlaybackManager : public ui::Window {
 public:
  CPlaybackManager() = default;

  // The session the dock plays recordings from; owned by the device entry,
  // which outlives the dock object until postClose().
  void setSession(WebPlug_NCL::CDVSDevice* session) { session_.store(session); }
  WebPlug_NCL::CDVSDevice* session() const { return session_.load(); }

  // Creates the dock window at `rect` (screen) under `parent`. 0 on failure.
  ui::HWND createDock(ui::HWND parent, const ui::Rect& rect);
  ui::HWND window() const { return window_.load(std::memory_order_acquire); }
  bool hasWindow() const { return window() != 0; }

  // The browser's top-level window that owns the dock.
  void setOwnerWindow(ui::HWND owner) { owner_.store(owner); }
  ui::HWND ownerWindow() const { return owner_.load(); }

  // Whether the page wants the dock visible; tracking respects it.
  void setShown(bool shown) { shown_.store(shown, std::memory_order_release); }
  bool shown() const { return shown_.load(std::memory_order_acquire); }

  void hide();
  bool isFullScreen() const { return false; }
  // Releases the player of a running playback; no player runs yet.
  void releasePlayer() {}
  // Asks the window to close; the object then deletes itself after its last
  // message. False when there is no window: the owner deletes the object.
  bool postClose();

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 protected:
  void onFinalMessage(ui::HWND hwnd) override;

 private:
  std::atomic<WebPlug_NCL::CDVSDevice*> session_{nullptr};
  std::atomic<ui::HWND> window_{0};
  std::atomic<ui::HWND> owner_{0};
  std::atomic<bool> shown_{true};
  std::atomic<bool> selfDelete_{false};
};

}  // namespace ksplugs
