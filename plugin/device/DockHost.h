#pragma once
// One dock of a device and where it sits: the dock object (live view or
// playback), its anchor over the page's browser window, and the steps that
// create the dock's window over that browser, lay it there again for a new
// preview, move it for the page and keep it there on every supervision pass.
// A device has two hosts, one per dock kind; they differ only in their kind.
//
// Threads: create() runs on the user-interface thread, place() and move() on
// command threads, track() on the supervision thread, close() on whichever
// thread drops the device's last reference. anchorLock_ guards the anchor and
// is never held while a window query or a send to the UI thread runs: each
// step works on a copy and writes back only what it changed, and only while
// the anchor still follows the same browser window.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ui/Types.h"
#include "plugin/device/DockAnchor.h"
#include "plugin/device/DockPlacement.h"
#include "plugin/video/dock/DockWindow.h"

namespace ksplugs {

// What a page's preview record says about the dock it wants.
struct DockRequest {
  std::u16string title;    // text the browser window's title contains
  int64_t clientPort = 0;  // the page's port; a value no TCP port can have finds no socket
  bool adjustPosition = false;
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  ui::HFONT font = 0;
  int layout = 0;  // 0: the dock's own default
};

class DockHost {
 public:
  DockHost(DockKind kind, std::unique_ptr<DockWindow> dock);
  ~DockHost();
  DockHost(const DockHost&) = delete;
  DockHost& operator=(const DockHost&) = delete;

  // The dock object; null after close().
  DockWindow* dock() const { return dock_.get(); }
  bool hasWindow() const { return dock_ && dock_->hasWindow(); }
  // A copy of the anchor, taken under its lock.
  DockAnchor anchor() const;

  // Creates the dock window over the page's browser window (UI thread). 0,
  // also when a racing creation made it first; 1005 when no window can be
  // made. A live dock answers the browser search's code (1003 for a port no
  // socket can have); a playback dock answers 2000 for every search failure.
  int create(const DockRequest& request);
  // Finds the page's browser window again and lays the existing dock over it
  // at the page rectangle; the dock stays where it is when the search fails.
  // The dock is shown either way.
  void place(const DockRequest& request);
  // The page's move of its dock (keepSize: only the position). 1003 when the
  // dock window or its browser is gone.
  int move(int x, int y, int w, int h, bool keepSize);
  // Runs a change of the dock's own placement (full screen on or off) as a
  // placement of the page: a tracking move queued before it is dropped
  // instead of moving the dock back over the browser afterwards.
  void placeBy(const std::function<void()>& change);
  // One supervision step: follows the browser, finds it again when it went,
  // and keeps the dock out of sight while the browser is minimised. Never
  // waits for the user-interface thread.
  void track();
  // Asks the dock window to close (it deletes its object itself), or deletes
  // a dock that has no window.
  void close();

 private:
  // Stores `anchor` when the anchor still follows `followed`; with
  // `onlyOffsets` only the offsets go back.
  void writeBack(const DockAnchor& anchor, ui::HWND followed, bool onlyOffsets);

  const DockKind kind_;
  std::unique_ptr<DockWindow> dock_;  // owned until close(), then by its window
  // Orders the page's placements (create, place, move) against the moves
  // that tracking queues to the dock's thread. A placement holds `lock`
  // until its anchor is stored and then counts itself; a queued move runs
  // only if it can take the lock and nothing was counted since it read the
  // anchor, so it never undoes a placement the page made meanwhile. Shared
  // with the queued moves, which may outlive the host.
  struct PlacementGate {
    std::mutex lock;
    std::atomic<uint64_t> count{0};
  };
  const std::shared_ptr<PlacementGate> gate_ = std::make_shared<PlacementGate>();
  mutable std::mutex anchorLock_;
  DockAnchor anchor_;  // guarded by anchorLock_
};

}  // namespace ksplugs
