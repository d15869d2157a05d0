#pragma once
// What the live-view dock and the playback dock share: a tool window over
// the page's browser that holds a device's video cells. The window is made
// on the UI thread by dock creation; it is shown, hidden, moved and closed
// from command threads and the supervision pass; once asked to close it
// deletes its own object after its last message.
//
// Threads: the window and everything a subclass marks "UI thread" belong to
// the thread that created the window. The window handle, the owner, the
// shown and docked flags and the session are atomics because command
// threads and the supervision pass read them.
#include <atomic>
#include <memory>
#include <string_view>

#include "platform/ui/Window.h"
#include "plugin/video/VideoServices.h"

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class DockWindow : public ui::Window {
 public:
  explicit DockWindow(std::shared_ptr<const VideoServices> services);
  ~DockWindow() override;

  // The session the dock's cells play from; owned by the device entry, which
  // outlives the dock until close(). Set before the window is created.
  void setSession(WebPlug_NCL::CDVSDevice* session) { session_.store(session, std::memory_order_release); }
  WebPlug_NCL::CDVSDevice* session() const { return session_.load(std::memory_order_acquire); }
  const VideoServices& services() const { return *services_; }
  const std::shared_ptr<const VideoServices>& sharedServices() const { return services_; }

  // Creates the dock window at `rect` under `parent` (UI thread). 0 on
  // failure.
  ui::HWND createDock(ui::HWND parent, const ui::Rect& rect);
  ui::HWND window() const { return window_.load(std::memory_order_acquire); }
  bool hasWindow() const { return window() != 0; }

  // Whether the page wants the dock visible: every position change of the
  // window follows it, so tracking never shows a dock the page hid.
  void setShown(bool shown) { shown_.store(shown, std::memory_order_release); }
  bool shown() const { return shown_.load(std::memory_order_acquire); }
  // Marks the dock shown and shows its window without activating it.
  void show();
  void hide();
  // Docked over a browser: a click on a cell brings the owner to the front.
  void setDocked(bool docked) { docked_.store(docked, std::memory_order_release); }
  bool docked() const { return docked_.load(std::memory_order_acquire); }
  // The window the dock lives under (the browser window once placed).
  void setOwnerWindow(ui::HWND owner) { owner_.store(owner, std::memory_order_release); }
  ui::HWND ownerWindow() const { return owner_.load(std::memory_order_acquire); }

  // The window class name of the dock ("CPreviewManager", "CPlaybackManager").
  virtual const char* dockClassName() const = 0;
  // A layout for the window to start with, before it exists; the playback
  // dock has none.
  virtual void setInitialLayout(int) {}
  // The page's font for the dock and everything in it.
  virtual void setFont(ui::HFONT font, bool redraw);
  virtual bool isFullScreen() const { return false; }

  // Asks the window to close once the cells have let go of the session; the
  // object then deletes itself with its window. False when there is no
  // window: the owner deletes the object.
  bool postClose();

 protected:
  // Runs on the window's thread before the close is posted: the session is
  // about to go away while the window may still receive messages.
  virtual void releaseSession() {}
  // The window's last message, before the object may delete itself.
  virtual void onDockGone() {}
  // Records the window handle as soon as WM_CREATE runs, so operations sent
  // during creation find it.
  void noteWindow(ui::HWND hwnd) { window_.store(hwnd, std::memory_order_release); }
  // The start of WM_CREATE for either dock: records the window, takes its
  // parent as the owner and the owner's font as the dock's, which it answers
  // for the cells.
  ui::HFONT adoptCreatedWindow();
  // WM_WINDOWPOSCHANGING: showing and hiding follow the shown flag.
  void keepShownState(ui::WINDOWPOS* pos) const;
  void onFinalMessage(ui::HWND hwnd) final;

 private:
  const std::shared_ptr<const VideoServices> services_;
  std::atomic<WebPlug_NCL::CDVSDevice*> session_{nullptr};
  std::atomic<ui::HWND> window_{0};
  std::atomic<ui::HWND> owner_{0};
  std::atomic<bool> shown_{true};
  std::atomic<bool> docked_{false};
  std::atomic<bool> selfDelete_{false};
};

}  // namespace ksplugs
