#pragma once
// The live-view dock of one device: the window that holds the device's video
// cells over the browser page, arranges them in one of the split layouts,
// pages through them, marks the selected cell with a green border, shows a
// single cell on double click and switches to full screen. A hidden extra
// cell carries the settings overlays.
//
// The device entry drives the dock only through the operations below, named
// after what the page asks; it never holds a cell. Each operation is sent to
// the window's thread as one task, so a command thread may call it.
//
// Threads: the dock object is made with the device entry; its window, its
// cells and every field marked "UI thread" belong to the UI thread that
// created the window. The window handle, shown flag, owner, full-screen flag
// and layout are atomics because the supervision pass reads them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/WindowApi.h"
#include "plugin/api/ksplugs.h"
#include "plugin/video/dock/DockWindow.h"

namespace ksplugs {

class CPreviewer;

class CPreviewManager : public DockWindow {
 public:
  static constexpr ui::COLORREF kSelectColor = ui::RGB(0, 255, 0);
  static constexpr ui::COLORREF kEraseColor = ui::RGB(255, 255, 255);
  static constexpr int kMaxCells = 36;

  explicit CPreviewManager(std::shared_ptr<const VideoServices> services = nullptr);
  ~CPreviewManager() override;

  const char* dockClassName() const override { return "CPreviewManager"; }
  // A layout type for the window to start with (a type that is not a layout
  // is ignored). Before the window exists only.
  void setInitialLayout(int type) override;
  void setFont(ui::HFONT font, bool redraw) override;
  bool isFullScreen() const override { return fullScreen_.load(std::memory_order_acquire); }

  // Type 0 toggles full screen; another layout type shows that layout (the
  // same type again shows the next page). A type that is not a layout is
  // refused and the dock keeps its layout. Always 0.
  int setLayout(uint32_t type);
  // The current layout type (-1 before one was chosen).
  int layout() const { return layoutType_.load(std::memory_order_acquire); }
  static int cellCount(int type);

  // ---- the page's operations; 1003 when the dock has no such cell ----
  // Opens (with the caption when it is not empty) or closes the live cell of
  // `channel`. On a multi-lens device the one cell takes `lensChannel`.
  int openChannel(int channel, int streamType, bool open, const std::u16string& caption, int lensChannel);
  // One cell's part of openChannels().
  struct ChannelOpen {
    int channel = 0;
    std::u16string caption;
  };
  // Opens or closes the cells of `channels` as openChannel() does each, and
  // answers what openChannel() answers for the last of them. Called from a
  // thread other than the window's, the cells connect side by side and the
  // caller waits for all of them without holding the window's thread.
  int openChannels(const std::vector<ChannelOpen>& channels, int streamType, bool open, int lensChannel);
  // Opens or closes the settings cell on `channel`.
  int openSettings(int channel, int streamType, bool open);
  int setMute(int channel, bool mute);
  int setZoom(int channel, bool on);
  int setKeepAspect(int channel, bool on);
  // Switches the cell's stream without announcing it back to the page; a
  // non-empty caption becomes its title (not on multi-lens devices).
  int switchStream(int channel, int streamType, const std::u16string& caption);
  int setBitrates(int channel, int kbpsMain, int kbpsSub, int kbpsThird);
  // `path` is the caller's buffer of CPreviewer::kPathBytes.
  int snapshot(int channel, bool live, int format, char* path);
  // Starts or stops the recording of the live cell of `channel`; stopping
  // answers in *path where it went. 1003 without such a cell.
  int setRecording(int channel, bool start, std::string* path);
  // Shows or hides the cell of `channel`, or the settings cell.
  void showCell(int channel, bool settings, bool show);
  // The settings view: the layout's cells hidden, the dock and its settings
  // cell shown.
  void showSettingsView();
  // The layout view: the layout's cells shown (unless one cell fills the
  // dock), the dock shown and the settings cell hidden.
  void showLayoutView();
  // Whether the settings cell is shown over the dock.
  bool settingsViewShown();
  bool hasSettingsCell();
  // Hands the page's settings record to the settings cell on the window's
  // thread: 1009 without a window, 1005 without a settings cell, else the
  // cell's answer.
  int settingsRecord(DeviceSettingsParam& record);
  // Sound off on every cell of the first `channels` channels.
  void muteAll(int channels);
  // Closes the streams of every cell and of the settings cell; recordings
  // end with their files kept and offered.
  void closeAllStreams(int channels);

  // The settings cell with `settings`; else the first cell of a multi-lens
  // device; else the selected cell for channel -1 or the first cell showing
  // `channel`. Null when there is none. For the dock's own use and tests.
  CPreviewer* findCell(int channel, bool settings);
  CPreviewer* settingsCell() const { return settingsCell_; }

  // State for tests (UI thread).
  int pageStart() const { return pageStart_; }
  bool singleCellView() const { return singleView_; }
  CPreviewer* selectedCell() const { return selected_; }
  const std::vector<CPreviewer*>& cells() const { return cells_; }

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 protected:
  void releaseSession() override;
  void onDockGone() override;

 private:
  // Runs `work` on the window's thread with the cell (1003 without one).
  int withCell(int channel, bool settings, const std::function<int(CPreviewer&)>& work);
  // Runs `work` on the window's thread; `fallback` when there is no window.
  int onWindowThread(int fallback, const std::function<int()>& work);
  CPreviewer* findCellHere(int channel, bool settings) const;
  void showLayoutCells(bool show);

  ui::LRESULT onCreate();
  void onSize();
  void onPaint();
  void doSetLayout(int type);
  void toggleFullScreen();
  void toggleSingleView();
  void layoutPass(bool nextPage, bool keepPage);
  void select(CPreviewer* cell);
  void drawBorder(CPreviewer* cell, bool draw);
  bool settingsCellHidden() const;
  bool borderVisible() const { return !singleView_ && layoutType_.load() != 1; }

  // Read by any thread.
  std::atomic<bool> fullScreen_{false};
  std::atomic<int> layoutType_{-1};
  // UI thread (or before the window exists).
  std::vector<CPreviewer*> cells_;  // deleted by their own windows
  bool singleView_ = false;
  CPreviewer* selected_ = nullptr;
  CPreviewer* settingsCell_ = nullptr;
  int pageStart_ = 0;
  ui::WindowPlacement savedPlacement_;
  bool layoutChanged_ = false;
  int pageCounter_ = 1;
};

}  // namespace ksplugs
