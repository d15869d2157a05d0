#pragma once
// The live-view dock of one device: the window that holds the device's video
// cells over the browser page, arranges them in one of the split layouts,
// pages through them, marks the selected cell with a green border, shows a
// single cell on double click and switches to full screen. A hidden extra
// cell carries the settings overlays.
//
// Threads: the dock object is made with the device entry; its window, its
// cells and every field marked "UI thread" belong to the UI thread that
// created the window. The public operations may be called from command
// threads: they are sent to the window's thread. The window handle and the
// shown flag are atomics because the supervision pass reads them.
#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class CPreviewer;

class CPreviewManager : public ui::Window {
 public:
  static constexpr ui::COLORREF kSelectColor = ui::RGB(0, 255, 0);
  static constexpr ui::COLORREF kEraseColor = ui::RGB(255, 255, 255);
  static constexpr int kMaxCells = 36;

  CPreviewManager();
  ~CPreviewManager() override;

  // The session the dock's cells play from; owned by the device entry, which
  // outlives the dock object. Set before the window is created.
  void setSession(WebPlug_NCL::CDVSDevice* session) { session_ = session; }
  WebPlug_NCL::CDVSDevice* session() const { return session_; }

  // Creates the dock window as a visible child of `parent` (UI thread). 0 on
  // failure.
  ui::HWND createDock(ui::HWND parent, const ui::Rect& rect);
  bool hasWindow() const { return window_.load(std::memory_order_acquire) != 0; }
  ui::HWND window() const { return window_.load(std::memory_order_acquire); }

  // A layout type for the window to start with (a type that is not a layout
  // is ignored). Before the window exists only.
  void setInitialLayout(int type);

  // Shown flag: every position change of the window follows it.
  void setShown(bool shown);
  bool shown() const { return shown_.load(std::memory_order_acquire); }
  void hide();
  void setDocked(bool docked);
  // The window the dock lives under and brings to the front when a cell is
  // clicked while docked (the browser window once the dock is placed).
  void setOwnerWindow(ui::HWND owner);
  ui::HWND ownerWindow() const { return owner_.load(std::memory_order_acquire); }

  // Type 0 toggles full screen; another layout type shows that layout (the
  // same type again shows the next page). A type that is not a layout is
  // refused and the dock keeps its layout. Always 0.
  int setLayout(uint32_t type);
  bool isFullScreen() const { return fullScreen_.load(std::memory_order_acquire); }
  // The current layout type (-1 before one was chosen).
  int layout() const { return layoutType_.load(std::memory_order_acquire); }

  // The settings cell with `settings`; else the first cell of a multi-lens
  // device; else the selected cell for channel -1 or the first cell showing
  // `channel`. Null when there is none.
  CPreviewer* findCell(int channel, bool settings);
  CPreviewer* settingsCell() const { return settingsCell_; }
  void setFont(ui::HFONT font, bool redraw);
  static int cellCount(int type);

  // Asks the window to close; the object then deletes itself with its
  // window. The cells close their streams and let go of the session first.
  // False when there is no window: the owner deletes the object.
  bool postClose();

  // State for tests (UI thread).
  int pageStart() const { return pageStart_; }
  bool singleCellView() const { return singleView_; }
  CPreviewer* selectedCell() const { return selected_; }
  const std::vector<CPreviewer*>& cells() const { return cells_; }

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 protected:
  void onFinalMessage(ui::HWND hwnd) override;

 private:
  ui::LRESULT onCreate();
  void onSize();
  void onPaint();
  void onWindowPosChanging(ui::WINDOWPOS* pos);
  void doSetLayout(int type);
  void toggleFullScreen();
  void toggleSingleView();
  void layoutPass(bool nextPage, bool keepPage);
  void select(CPreviewer* cell);
  void drawBorder(CPreviewer* cell, bool draw);
  bool settingsCellHidden() const;
  bool borderVisible() const { return !singleView_ && layoutType_.load() != 1; }

  // Read by any thread.
  std::atomic<bool> shown_{true};
  std::atomic<ui::HWND> window_{0};
  std::atomic<bool> fullScreen_{false};
  std::atomic<int> layoutType_{-1};
  std::atomic<bool> selfDelete_{false};
  std::atomic<bool> docked_{false};
  std::atomic<ui::HWND> owner_{0};
  // UI thread (or before the window exists).
  std::vector<CPreviewer*> cells_;  // deleted by their own windows
  WebPlug_NCL::CDVSDevice* session_ = nullptr;
  bool singleView_ = false;
  CPreviewer* selected_ = nullptr;
  CPreviewer* settingsCell_ = nullptr;
  int pageStart_ = 0;
  ui::WindowPlacement savedPlacement_;
  bool layoutChanged_ = false;
  int pageCounter_ = 1;
};

}  // namespace ksplugs
