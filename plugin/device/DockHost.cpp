#include "plugin/device/DockHost.h"

#include <utility>

#include "platform/ui/WindowApi.h"
#include "plugin/api/ksplugs.h"

namespace ksplugs {

namespace {

// The page's port as a TCP port; false for a value no port can have.
bool portOf(int64_t clientPort, uint16_t& port) {
  if (clientPort < 0 || clientPort > 0xFFFF) return false;
  port = static_cast<uint16_t>(clientPort);
  return true;
}

}  // namespace

DockHost::DockHost(DockKind kind, std::unique_ptr<DockWindow> dock) : kind_(kind), dock_(std::move(dock)) {}

DockHost::~DockHost() = default;

DockAnchor DockHost::anchor() const {
  std::lock_guard lock(anchorLock_);
  return anchor_;
}

int DockHost::create(const DockRequest& request) {
  DockWindow* dock = dock_.get();
  if (dock == nullptr) return KS_E_NOT_READY;
  // A second creation (two commands raced to ask for it) finds it made.
  if (dock->hasWindow()) return KS_OK;
  const bool live = kind_ == DockKind::kLive;
  uint16_t port = 0;
  if (!portOf(request.clientPort, port)) return live ? KS_E_CHANNEL : KS_E_NO_BROWSER;
  DockAnchor anchor;
  BrowserWindows found;
  ui::Rect rect;
  const int result = DockPlacement::prepareDock(request.title, port, request.adjustPosition, request.x, request.y,
                                                request.w, request.h, anchor, found, rect);
  if (result != KS_OK) return live ? result : KS_E_NO_BROWSER;
  if (request.layout != 0) dock->setInitialLayout(request.layout);
  const ui::HWND window = dock->createDock(ui::getDesktopWindow(), rect);
  if (window == 0) return KS_E_WINDOW;
  dock->setFont(request.font, true);
  dock->setOwnerWindow(found.top);
  dock->setDocked(true);
  DockPlacement::showOverOwner(window, found.top);
  {
    std::lock_guard lock(anchorLock_);
    anchor_ = anchor;
  }
  gate_->count.fetch_add(1);
  return KS_OK;
}

void DockHost::place(const DockRequest& request) {
  DockWindow* dock = dock_.get();
  if (dock == nullptr || !dock->hasWindow()) return;
  uint16_t port = 0;
  DockAnchor anchor;
  BrowserWindows found;
  ui::Rect rect;
  if (portOf(request.clientPort, port) &&
      DockPlacement::prepareDock(request.title, port, request.adjustPosition, request.x, request.y, request.w,
                                 request.h, anchor, found, rect) == KS_OK) {
    std::lock_guard placing(gate_->lock);
    {
      std::lock_guard lock(anchorLock_);
      anchor_ = anchor;
    }
    gate_->count.fetch_add(1);
    if (found.top != dock->ownerWindow()) {
      dock->setOwnerWindow(found.top);
      DockPlacement::attachToOwner(dock->window(), found.top);
    }
    ui::setWindowPos(dock->window(), 0, rect.left, rect.top, rect.width(), rect.height(),
                     ui::SWP_NOACTIVATE | ui::SWP_NOZORDER | ui::SWP_NOSENDCHANGING);
  }
  // Without its browser the dock stays where it is; it is shown all the same.
  dock->show();
}

int DockHost::move(int x, int y, int w, int h, bool keepSize) {
  DockWindow* dock = dock_.get();
  if (dock == nullptr || !dock->hasWindow()) return KS_E_CHANNEL;
  // The move waits for the dock's thread, so it works on a copy of the
  // anchor; only the new offsets go back.
  std::lock_guard placing(gate_->lock);
  DockAnchor anchor = this->anchor();
  const int result = DockPlacement::moveDock(anchor, dock->window(), x, y, w, h, keepSize, kind_);
  if (result == KS_OK) writeBack(anchor, anchor.browserWindow, true);
  gate_->count.fetch_add(1);
  return result;
}

void DockHost::track() {
  DockWindow* dock = dock_.get();
  if (dock == nullptr) return;
  const ui::HWND window = dock->window();
  if (window == 0 || !dock->shown() || dock->isFullScreen()) return;
  ui::HWND owner = dock->ownerWindow();
  // The step works on a copy: window queries may wait for other threads,
  // and no lock is held meanwhile. A re-found browser goes back unless a
  // command placed the dock anew in the meantime, and the queued move is
  // dropped when the page placed the dock after this copy was taken.
  const uint64_t seen = gate_->count.load();
  DockAnchor anchor = this->anchor();
  if (anchor.browserWindow == 0) return;
  const ui::HWND followed = anchor.browserWindow;
  // Checked on the dock's thread, which also runs every placement's own
  // window move, so nothing can come between the check and the move.
  std::shared_ptr<PlacementGate> gate = gate_;
  DockPlacement::track(anchor, window, owner, kind_, ProcessQueries::system(), [gate, seen] {
    std::unique_lock free(gate->lock, std::try_to_lock);
    return free.owns_lock() && gate->count.load() == seen;
  });
  if (anchor.browserWindow != followed) writeBack(anchor, followed, false);
  if (owner != dock->ownerWindow()) dock->setOwnerWindow(owner);
  // An owned window is out of sight while its owner is minimised, and back
  // when the owner is restored. Both changes are queued to the dock's thread:
  // this thread never waits for the user-interface thread. Hiding skips the
  // dock's own position check, which would keep a shown dock visible;
  // showing goes through it, so a dock the page hid meanwhile stays hidden.
  const bool ownerMinimised = owner != 0 && ui::isIconic(owner);
  const bool visible = (ui::getWindowStyle(window) & ui::WS_VISIBLE) != 0;
  constexpr ui::UINT kKeep =
      ui::SWP_NOMOVE | ui::SWP_NOSIZE | ui::SWP_NOZORDER | ui::SWP_NOACTIVATE | ui::SWP_ASYNCWINDOWPOS;
  if (ownerMinimised && visible) {
    ui::setWindowPos(window, 0, 0, 0, 0, 0, kKeep | ui::SWP_HIDEWINDOW | ui::SWP_NOSENDCHANGING);
  } else if (!ownerMinimised && !visible) {
    ui::setWindowPos(window, 0, 0, 0, 0, 0, kKeep | ui::SWP_SHOWWINDOW);
  }
}

void DockHost::writeBack(const DockAnchor& anchor, ui::HWND followed, bool onlyOffsets) {
  std::lock_guard lock(anchorLock_);
  if (anchor_.browserWindow != followed) return;
  if (onlyOffsets) {
    anchor_.offsetX = anchor.offsetX;
    anchor_.offsetY = anchor.offsetY;
  } else {
    anchor_.browserWindow = anchor.browserWindow;
    anchor_.title = anchor.title;
  }
}

void DockHost::placeBy(const std::function<void()>& change) {
  std::lock_guard placing(gate_->lock);
  change();
  gate_->count.fetch_add(1);
}

void DockHost::close() {
  if (!dock_) return;
  // A dock window deletes its object itself once it has closed.
  if (dock_->postClose()) {
    (void)dock_.release();
  } else {
    dock_.reset();
  }
}

}  // namespace ksplugs
