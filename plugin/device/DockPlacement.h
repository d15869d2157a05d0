#pragma once
// Finding the browser window a page lives in, and the arithmetic that lays a
// dock over it and keeps it there.
//
// The page's WebSocket connection gives its local TCP port; the process that
// holds that socket names the browser's program; among the top-level windows
// of every process running that program, in Z order, the first visible one
// whose title contains the page's title text is the browser window (the top
// window). With "adjust position" the dock follows the browser's content
// child (the render window) instead of its frame.
//
// Everything here works on window handles through the desktop queries of
// the window layer, so it runs on any thread and against the headless
// desktop in tests. The process side is a seam (ProcessQueries) that
// defaults to /proc. Nothing here holds state between calls: the anchor of a
// dock is the caller's DockAnchor.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Types.h"
#include "plugin/device/DockAnchor.h"

namespace ksplugs {

// How the browser search learns about processes. The default asks the
// system (TcpTable); tests replace single entries.
struct ProcessQueries {
  // 0 with the process that holds the TCP socket whose local port is
  // `port`; 1003 when no socket has that port, 1005 when no visible process
  // holds it.
  std::function<int(uint16_t port, uint32_t& pid)> portOwner;
  // The program's file name without its folder; empty when unknown.
  std::function<std::string(uint32_t pid)> imageName;
  // Every process running a program of that file name (any ASCII case).
  std::function<std::vector<uint32_t>(std::string_view imageName)> processesNamed;

  static ProcessQueries system();
};

// The windows a search found: the browser's top-level window and, when the
// dock follows the page area, its content child.
struct BrowserWindows {
  ui::HWND top = 0;
  ui::HWND render = 0;
  // The window the dock follows: the render window when there is one.
  ui::HWND anchor() const { return render != 0 ? render : top; }
};

enum class DockKind { kLive, kPlayback };

class DockPlacement {
 public:
  // Window titles are compared over their first 259 units, as a 260-unit
  // title buffer holds them.
  static constexpr size_t kTitleUnits = 259;
  static constexpr std::string_view kIntermediateD3DClass = "Intermediate D3D Window";

  // The whole search from the page's connection. 0 with `processName` and
  // `found` filled; 1003 no socket with that port, 1005 its process or
  // program cannot be found, 1013 no browser window has the title (or the
  // first that has it is minimised).
  static int findBrowserWindow(std::u16string_view title, uint16_t clientPort, bool adjustPosition,
                               std::u16string& processName, BrowserWindows& found,
                               const ProcessQueries& queries = ProcessQueries::system());

  // The search without the socket: from a known program name, skipping
  // `excluded`. 0, 1005 when no process runs that program, 1013 when no
  // window qualifies.
  static int findTopWindow(std::u16string_view processName, std::u16string_view title, ui::HWND excluded,
                           bool adjustPosition, BrowserWindows& found,
                           const ProcessQueries& queries = ProcessQueries::system());

  // The browser's content child: the first visible direct child (Z order,
  // skipping `excluded` and the compositor's "Intermediate D3D Window"
  // children) whose window rectangle differs from the browser's frame
  // bounds. 0 when there is none.
  static ui::HWND findContentChild(ui::HWND browser, ui::HWND excluded = 0);

  // Whether `windowTitle` (cut to kTitleUnits) contains `text`, without
  // regard to case. An empty text is contained in every title.
  static bool titleContains(std::u16string_view windowTitle, std::u16string_view text);

  // Screen coordinates of docks stay within this many pixels of 0 either
  // way, so that no sum, width or height of their rectangles overflows.
  static constexpr int kCoordinateLimit = 1 << 30;
  // The bound for page rectangles when the desktop reports no monitor: the
  // largest coordinate an X11 screen can have.
  static constexpr int kNoDesktopExtent = 32767;

  // Whether a page rectangle (x, y, w, h), relative to the browser window,
  // can describe a dock: the size is not negative and no larger than the
  // desktop's bounding box, and neither offset is larger than that box (a
  // dock further away lies off the desktop wherever the browser is). 0, or
  // 1000 for anything else; a dock of any larger size would only cost
  // memory and time for pixels nobody sees.
  static int checkPageRect(int x, int y, int w, int h);

  // The dock's screen rectangle for a page rectangle (x, y, w, h) given
  // relative to the anchor window. The anchor's origin is its window
  // rectangle when it is a child, else its visible frame; a maximised
  // anchor starts at its monitor's origin; a normal top-level anchor is
  // shifted right by half of (frame width - client width). x and y become
  // the anchor's offsets. The sums saturate at kCoordinateLimit.
  static ui::Rect computeDockRect(ui::HWND anchorWindow, int x, int y, int w, int h, DockAnchor& anchor);

  // The point the dock's top-left follows on every pass, before the
  // offsets: with adjust position the anchor's window rectangle; otherwise
  // its frame bounds, for a live dock with the maximised and half-border
  // corrections of computeDockRect. None when the anchor is gone.
  static std::optional<ui::Point> trackedOrigin(ui::HWND anchorWindow, bool adjustPosition, DockKind kind);

  // Searches the anchor's browser again (by the program name kept in the
  // anchor, no socket lookup), skipping `excluded`. With adjust position
  // the search fails without a render window distinct from the top window,
  // otherwise without a top window. On success the anchor follows the new
  // window and keeps `title`; the answer's top window is the dock's new
  // owner.
  static std::optional<BrowserWindows> refind(DockAnchor& anchor, std::u16string_view title, ui::HWND excluded,
                                              const ProcessQueries& queries = ProcessQueries::system());

  // Where a new dock goes: the browser search for the page (as
  // findBrowserWindow) and the dock's screen rectangle for the page
  // rectangle (x, y, w, h). On 0, `anchor` holds everything the dock's
  // anchor keeps (title, program name, adjust position, offsets, the window
  // it follows) and `found` the windows; the caller stores the anchor once
  // its window exists. On failure both are left empty.
  static int prepareDock(std::u16string_view title, uint16_t clientPort, bool adjustPosition, int x, int y, int w,
                         int h, DockAnchor& anchor, BrowserWindows& found, ui::Rect& rect,
                         const ProcessQueries& queries = ProcessQueries::system());

  // A new dock window joins its browser: owned by `top`, and shown (without
  // activation, moving or sizing) unless `top` is minimised, when it is
  // hidden. Runs on the dock's thread.
  static void showOverOwner(ui::HWND dock, ui::HWND top);

  // Gives `dock` the owner `top`, right behind it in Z order, without
  // moving, sizing or activating it. Queued to the dock's thread.
  static void attachToOwner(ui::HWND dock, ui::HWND top);

  // A page's move of its dock: the new page rectangle relative to the
  // anchor (its x and y become the offsets), without activating the dock or
  // changing its Z order; with `keepSize` only the position changes. 1003
  // when the dock window or the anchor window is gone, else 0.
  static int moveDock(DockAnchor& anchor, ui::HWND dock, int x, int y, int w, int h, bool keepSize, DockKind kind);

  // One supervision step for a dock window that the caller found trackable
  // (it exists, is shown and not in full screen, its device not closing):
  // re-finds the browser when the anchor is gone, no longer the owner's
  // child, or the owner's title has lost the text (then skipping that
  // owner); then moves the dock to the anchor's origin plus the offsets,
  // keeping its size and Z order. `owner` is the dock's owner window and is
  // updated when the search finds a new one. Answers whether a move was
  // queued. The move is queued to the dock's thread, so the supervision
  // thread never waits for the user-interface thread; when it gets there it
  // is dropped unless `stillCurrent` (when given) answers true, so a page's
  // move that came in between is not undone by a position computed before it.
  static bool track(DockAnchor& anchor, ui::HWND dock, ui::HWND& owner, DockKind kind,
                    const ProcessQueries& queries = ProcessQueries::system(),
                    std::function<bool()> stillCurrent = {});
};

}  // namespace ksplugs
