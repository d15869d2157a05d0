#include "plugin/device/DockPlacement.h"

#include <algorithm>
#include <cstdint>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"
#include "plugin/api/ksplugs.h"
#include "plugin/device/TcpTable.h"

namespace ksplugs {
namespace {

// Case folding for title comparisons: ASCII, Latin-1, Greek and Cyrillic
// capitals, which covers the page titles browsers show; other characters
// compare as they are.
char16_t foldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
           if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
           return x == y;
         });
}

// The visible frame of a window, or its window rectangle when the desktop
// has no separate frame for it.
ui::Rect frameOf(const ui::DesktopWindowInfo& info) {
  return info.frameBounds.isEmpty() ? info.windowRect : info.frameBounds;
}

// Where a maximised window starts: the origin of the monitor it fills.
ui::Point maximisedOrigin(const ui::Rect& frame) {
  const ui::Point centre{frame.left + frame.width() / 2, frame.top + frame.height() / 2};
  const ui::Rect bounds = ui::monitorFromPoint(centre, true).bounds;
  return {bounds.left, bounds.top};
}

// The origin of a top-level window's page area as the dock sees it: on the
// maximised window's monitor origin, else shifted right by half of the
// border that the frame has beyond the client area (arithmetic shift, so an
// odd or negative difference rounds down).
ui::Point correctedOrigin(const ui::DesktopWindowInfo& info) {
  const ui::Rect frame = frameOf(info);
  if (info.maximized) return maximisedOrigin(frame);
  return {frame.left + ((frame.width() - info.clientRect.width()) >> 1), frame.top};
}

// A coordinate computed in 64 bits, saturated into the range docks use.
int saturate(int64_t value) {
  return static_cast<int>(
      std::clamp<int64_t>(value, -DockPlacement::kCoordinateLimit, DockPlacement::kCoordinateLimit));
}

}  // namespace

ProcessQueries ProcessQueries::system() {
  ProcessQueries queries;
  queries.portOwner = [](uint16_t port, uint32_t& pid) {
    const std::optional<TcpTable::Row> row = TcpTable::findLocalPort(port);
    if (!row) return static_cast<int>(KS_E_CHANNEL);
    const std::optional<uint32_t> owner = TcpTable::ownerOfInode(row->inode);
    if (!owner) return static_cast<int>(KS_E_WINDOW);
    pid = *owner;
    return static_cast<int>(KS_OK);
  };
  queries.imageName = [](uint32_t pid) { return TcpTable::processImageName(pid); };
  queries.processesNamed = [](std::string_view name) { return TcpTable::processesNamed(name); };
  return queries;
}

bool DockPlacement::titleContains(std::u16string_view windowTitle, std::u16string_view text) {
  windowTitle = windowTitle.substr(0, std::min(windowTitle.size(), kTitleUnits));
  if (text.size() > windowTitle.size()) return false;
  const auto same = [](char16_t a, char16_t b) { return foldCase(a) == foldCase(b); };
  return std::search(windowTitle.begin(), windowTitle.end(), text.begin(), text.end(), same) != windowTitle.end();
}

int DockPlacement::findBrowserWindow(std::u16string_view title, uint16_t clientPort, bool adjustPosition,
                                     std::u16string& processName, BrowserWindows& found,
                                     const ProcessQueries& queries) {
  found = {};
  uint32_t pid = 0;
  if (const int result = queries.portOwner(clientPort, pid); result != KS_OK) return result;
  const std::string image = queries.imageName(pid);
  if (image.empty()) return KS_E_WINDOW;
  processName = sys::utf8ToUtf16(image);
  return findTopWindow(processName, title, 0, adjustPosition, found, queries);
}

int DockPlacement::findTopWindow(std::u16string_view processName, std::u16string_view title, ui::HWND excluded,
                                 bool adjustPosition, BrowserWindows& found, const ProcessQueries& queries) {
  found = {};
  const std::vector<uint32_t> processes = queries.processesNamed(sys::utf16ToUtf8(processName));
  if (processes.empty()) return KS_E_WINDOW;
  for (const ui::HWND hwnd : ui::getTopLevelWindows()) {
    if (hwnd == excluded) continue;
    const std::optional<ui::DesktopWindowInfo> info = ui::getDesktopWindowInfo(hwnd);
    if (!info || !info->visible) continue;
    if (std::find(processes.begin(), processes.end(), info->processId) == processes.end()) continue;
    if (!titleContains(sys::utf8ToUtf16(info->title), title)) continue;
    // The first match decides: a minimised browser is no place for a dock,
    // and a window further down must not take its place.
    if (!info->minimized) found.top = hwnd;
    break;
  }
  if (found.top == 0) return KS_E_SDK;
  if (adjustPosition) found.render = findContentChild(found.top, excluded);
  return KS_OK;
}

ui::HWND DockPlacement::findContentChild(ui::HWND browser, ui::HWND excluded) {
  const std::optional<ui::DesktopWindowInfo> browserInfo = ui::getDesktopWindowInfo(browser);
  if (!browserInfo) return 0;
  const ui::Rect frame = frameOf(*browserInfo);
  for (const ui::HWND child : ui::getChildWindows(browser)) {
    if (child == excluded) continue;
    const std::optional<ui::DesktopWindowInfo> info = ui::getDesktopWindowInfo(child);
    if (!info || !info->visible) continue;
    // The compositor's intermediate surface covers the page but is not the
    // page: following it would put the dock over the wrong area.
    if (equalsIgnoreAsciiCase(info->className, kIntermediateD3DClass)) continue;
    if (info->windowRect != frame) return child;
  }
  return 0;
}

int DockPlacement::checkPageRect(int x, int y, int w, int h) {
  const ui::Rect desktop = ui::getDesktopBounds();
  // In 64 bits: a box from one far corner to the other may be wider than int.
  const int64_t width = desktop.isEmpty() ? kNoDesktopExtent : int64_t{desktop.right} - desktop.left;
  const int64_t height = desktop.isEmpty() ? kNoDesktopExtent : int64_t{desktop.bottom} - desktop.top;
  const auto within = [](int64_t value, int64_t low, int64_t high) { return value >= low && value <= high; };
  if (!within(w, 0, width) || !within(h, 0, height) || !within(x, -width, width) || !within(y, -height, height)) {
    return KS_E_INVALID;
  }
  return KS_OK;
}

ui::Rect DockPlacement::computeDockRect(ui::HWND anchorWindow, int x, int y, int w, int h, DockAnchor& anchor) {
  ui::Point origin;
  if (const std::optional<ui::DesktopWindowInfo> info = ui::getDesktopWindowInfo(anchorWindow)) {
    if ((info->style & ui::WS_CHILD) != 0) {
      origin = info->maximized ? maximisedOrigin(info->windowRect) : ui::Point{info->windowRect.left, info->windowRect.top};
    } else {
      origin = correctedOrigin(*info);
    }
  }
  anchor.offsetX = x;
  anchor.offsetY = y;
  const int left = saturate(int64_t{origin.x} + x);
  const int top = saturate(int64_t{origin.y} + y);
  return {left, top, saturate(int64_t{left} + w), saturate(int64_t{top} + h)};
}

std::optional<ui::Point> DockPlacement::trackedOrigin(ui::HWND anchorWindow, bool adjustPosition, DockKind kind) {
  const std::optional<ui::DesktopWindowInfo> info = ui::getDesktopWindowInfo(anchorWindow);
  if (!info) return std::nullopt;
  if (adjustPosition) return ui::Point{info->windowRect.left, info->windowRect.top};
  if (kind == DockKind::kLive) return correctedOrigin(*info);
  const ui::Rect frame = frameOf(*info);
  return ui::Point{frame.left, frame.top};
}

std::optional<BrowserWindows> DockPlacement::refind(DockAnchor& anchor, std::u16string_view title,
                                                    ui::HWND excluded, const ProcessQueries& queries) {
  // The title may be the anchor's own text, which is replaced below.
  const std::u16string wanted(title);
  BrowserWindows found;
  findTopWindow(anchor.processImage, wanted, excluded, anchor.adjustPosition, found, queries);
  if (anchor.adjustPosition) {
    if (found.render == 0 || found.render == found.top) return std::nullopt;
  } else if (found.top == 0) {
    return std::nullopt;
  }
  anchor.browserWindow = found.anchor();
  anchor.title = wanted;
  return found;
}

int DockPlacement::prepareDock(std::u16string_view title, uint16_t clientPort, bool adjustPosition, int x, int y,
                               int w, int h, DockAnchor& anchor, BrowserWindows& found, ui::Rect& rect,
                               const ProcessQueries& queries) {
  anchor = {};
  rect = {};
  std::u16string processName;
  const int result = findBrowserWindow(title, clientPort, adjustPosition, processName, found, queries);
  if (result != KS_OK) {
    found = {};
    return result;
  }
  anchor.title = std::u16string(title);
  anchor.processImage = std::move(processName);
  anchor.adjustPosition = adjustPosition;
  anchor.browserWindow = found.anchor();
  rect = computeDockRect(anchor.browserWindow, x, y, w, h, anchor);
  return KS_OK;
}

void DockPlacement::showOverOwner(ui::HWND dock, ui::HWND top) {
  ui::setWindowOwner(dock, top);
  ui::showWindow(dock, ui::isIconic(top) ? ui::SW_HIDE : ui::SW_SHOWNA);
}

int DockPlacement::moveDock(DockAnchor& anchor, ui::HWND dock, int x, int y, int w, int h, bool keepSize,
                            DockKind kind) {
  if (!ui::isWindow(dock) || anchor.browserWindow == 0 || !ui::isWindow(anchor.browserWindow)) return KS_E_CHANNEL;
  const ui::Rect rect = computeDockRect(anchor.browserWindow, x, y, w, h, anchor);
  ui::UINT flags = ui::SWP_NOACTIVATE | ui::SWP_NOZORDER;
  if (kind == DockKind::kLive) flags |= ui::SWP_NOSENDCHANGING;
  if (keepSize) flags |= ui::SWP_NOSIZE;
  ui::setWindowPos(dock, 0, rect.left, rect.top, rect.width(), rect.height(), flags);
  return KS_OK;
}

void DockPlacement::attachToOwner(ui::HWND dock, ui::HWND top) {
  // Queued to the dock's own thread: the supervision thread must never wait
  // for the user-interface thread, which may be waiting for it at shut-down.
  ui::postTask(dock, [dock, top] {
    ui::setWindowOwner(dock, top);
    ui::setWindowPos(dock, top, 0, 0, 0, 0,
                     ui::SWP_NOMOVE | ui::SWP_NOSIZE | ui::SWP_NOACTIVATE | ui::SWP_FRAMECHANGED);
  });
}

bool DockPlacement::track(DockAnchor& anchor, ui::HWND dock, ui::HWND& owner, DockKind kind,
                          const ProcessQueries& queries, std::function<bool()> stillCurrent) {
  if (anchor.browserWindow == 0 || !ui::isWindow(dock)) return false;
  const ui::HWND anchorWindow = anchor.browserWindow;
  std::optional<BrowserWindows> found;
  if (!ui::isWindow(anchorWindow) || (anchor.adjustPosition && ui::getParent(anchorWindow) != owner)) {
    found = refind(anchor, anchor.title, 0, queries);
    if (!found) return false;
  } else if (!titleContains(ui::getWindowTextW(owner), anchor.title)) {
    // Another tab came to the front: look for a window that still shows the
    // page, other than this one. Without one the dock stays where it is.
    found = refind(anchor, anchor.title, owner, queries);
    if (!found) return false;
  }
  if (found) {
    owner = found->top;
    attachToOwner(dock, owner);
  }

  const std::optional<ui::Point> origin = trackedOrigin(anchor.browserWindow, anchor.adjustPosition, kind);
  if (!origin) return false;
  const int x = saturate(int64_t{origin->x} + anchor.offsetX);
  const int y = saturate(int64_t{origin->y} + anchor.offsetY);
  const ui::Rect current = ui::getWindowRect(dock);
  if (current.left == x && current.top == y) return false;
  // Never activated: the page keeps the keyboard while the dock follows it.
  return ui::postTask(dock, [dock, x, y, stillCurrent = std::move(stillCurrent)] {
    if (stillCurrent && !stillCurrent()) return;
    ui::setWindowPos(dock, 0, x, y, 0, 0,
                     ui::SWP_NOSIZE | ui::SWP_NOZORDER | ui::SWP_NOACTIVATE | ui::SWP_NOSENDCHANGING);
  });
}

}  // namespace ksplugs
