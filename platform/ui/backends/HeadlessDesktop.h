#pragma once
// The headless desktop: a Backend that keeps the whole desktop in memory.
// It is the default backend and the one tests use; start-up code makes it
// through makeHeadlessBackend() in Backends.h, tests construct it directly. Besides mirroring this
// process's windows it lets a test add foreign top-level windows (a browser
// with a process id, title, class, frame and client rectangles and child
// windows), change them, inject mouse and keyboard input at screen points,
// answer menus and the Save-As dialog, and capture one window or the whole
// desktop with children composited in Z order and clipped to their parents.
//
// Threads: every method may be called from any thread; mutex_ guards all
// state. Input injection calls the window system after releasing mutex_;
// the resulting messages are queued for the windows' threads.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/Image.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WindowTree.h"

namespace ui {

struct ForeignWindowSpec {
  uint32_t processId = 0;
  std::string title;  // UTF-8
  std::string className;
  Rect frame;                       // window rectangle, screen
  std::optional<Rect> frameBounds;  // the visible frame; the window rectangle when not given
  std::optional<Rect> client;       // screen; the window rectangle when not given
  uint32_t style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
  uint32_t exStyle = 0;
  COLORREF color = RGB(200, 200, 200);  // how captures draw its client area
  HWND parent = 0;                      // a foreign window: makes this one its child (add WS_CHILD to style)
  HWND owner = 0;
};

struct HeadlessOptions {
  // One 1920 x 1080 monitor at 96 dots per inch, work area above a 40-pixel
  // task bar, when empty.
  std::vector<MonitorInfo> monitors;
  COLORREF desktopColor = RGB(0x10, 0x20, 0x30);
};

class HeadlessDesktop : public Backend {
 public:
  explicit HeadlessDesktop(HeadlessOptions options = {});
  ~HeadlessDesktop() override;

  // --- Backend ---
  void attach(InputSink* sink) override;
  bool onScreen() const override { return false; }
  void surfaceCreated(const SurfaceDesc& desc) override;
  void surfaceChanged(const SurfaceDesc& desc) override;
  void surfaceRestacked(HWND hwnd, HWND insertAfter) override;
  void surfaceDestroyed(HWND hwnd) override;
  void present(HWND hwnd, const ImageView& image, const Rect& dirty) override;
  void setForeground(HWND hwnd) override;
  std::vector<HWND> topLevelWindows() override;
  std::optional<DesktopWindowInfo> windowInfo(HWND hwnd) override;
  std::vector<HWND> childWindows(HWND hwnd) override;
  std::vector<MonitorInfo> monitors() override;
  UINT dpiForWindow(HWND hwnd) override;
  Point cursorPos() override;
  void setCursorShape(CursorShape shape) override;
  void clipCursor(const std::optional<Rect>& rect) override;
  std::optional<Rect> cursorClip() override;
  UINT trackPopupMenu(HWND owner, const std::vector<MenuItemView>& items, Point screen) override;
  std::optional<std::string> saveFileDialog(const SaveDialogRequest& request) override;
  void setKeyHookActive(bool active) override;

  // --- the desktop, for tests ---
  void setMonitors(std::vector<MonitorInfo> monitors);
  HWND addForeignWindow(const ForeignWindowSpec& spec);
  bool removeForeignWindow(HWND hwnd);
  bool moveForeignWindow(HWND hwnd, const Rect& frame, std::optional<Rect> frameBounds = std::nullopt,
                         std::optional<Rect> client = std::nullopt);
  bool setForeignTitle(HWND hwnd, std::string title);
  bool setForeignState(HWND hwnd, bool minimized, bool maximized);
  bool setForeignVisible(HWND hwnd, bool visible);
  // Z order of any top-level window: right below insertAfter (HWND_TOP etc. allowed).
  bool restack(HWND hwnd, HWND insertAfter);

  // --- input ---
  void mouse(Point screen, MouseAction action);
  void moveMouse(Point screen) { mouse(screen, MouseAction::Move); }
  void click(Point screen);
  void doubleClick(Point screen);
  void rightClick(Point screen);
  void key(UINT virtualKey, bool down);
  void pressKey(UINT virtualKey);
  // The top-level window under a point (this process's or foreign), or 0.
  HWND topLevelAt(Point screen);

  // --- services ---
  using MenuAnswer = std::function<UINT(const std::vector<MenuItemView>& items, Point screen)>;
  using FileAnswer = std::function<std::optional<std::string>(const SaveDialogRequest& request)>;
  void setMenuAnswer(MenuAnswer answer);
  void setFileDialogAnswer(FileAnswer answer);
  std::vector<MenuItemView> lastMenu();
  Point lastMenuPoint();
  int menuCount();
  std::optional<SaveDialogRequest> lastFileDialog();
  CursorShape cursorShape();
  bool keyHookActive();

  // --- captures ---
  // The whole desktop over the bounding box of the monitors.
  Image captureDesktop();
  // One window and its children, at the window's size; empty when unknown.
  Image captureWindow(HWND hwnd);

 private:
  // One step of a capture: a fill, or a blit from a window's pixels. The
  // steps are gathered under mutex_ and carried out after it, each blit
  // under its memory's lock, since a window's own drawing holds that lock
  // and then presents (which takes mutex_).
  struct CaptureStep {
    Rect fill;
    uint32_t color = 0;
    std::shared_ptr<PixelMemory> memory;  // set: a blit
    int width = 0;
    int height = 0;
    Point at;
    Rect clip;
    static CaptureStep filled(const Rect& r, uint32_t rgb) {
      CaptureStep step;
      step.fill = r;
      step.color = rgb;
      return step;
    }
  };

  // What the desktop knows of a window besides its links, which tree_ keeps.
  struct Node {
    HWND hwnd = 0;
    bool foreign = false;
    uint32_t processId = 0;
    std::string title;
    std::string className;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    Rect rect;         // ours: the parent's client coordinates (screen when top-level); foreign: screen
    Rect frameBounds;  // foreign, screen
    Rect client;       // foreign, screen
    bool minimized = false;
    bool maximized = false;
    COLORREF color = 0;
    // Ours: what the window shows. Once the window presents from memory of
    // allocatePixels the desktop keeps that memory and shows what is drawn
    // into it (no copy); until then, memory of its own (white at first).
    std::shared_ptr<PixelMemory> memory;
    int width = 0;  // the picture's size in memory
    int height = 0;
    bool adopted = false;  // memory is the window's own
  };

  Node* findLocked(HWND hwnd);
  Rect screenRectLocked(const Node& n);
  bool visibleLocked(const Node& n);
  void restackLocked(HWND hwnd, HWND insertAfter);
  void eraseLocked(HWND hwnd);
  void normalizeLocked();
  // Memory of the node's own at a new size: what fits of the old pixels
  // stays, the rest is `fill`. Nothing changes while it shows the window's.
  void resizeOwnLocked(Node& n, int width, int height, uint32_t fill);
  void drawLocked(std::vector<CaptureStep>& steps, const Node& n, Point origin, const Rect& clip, bool forceVisible);
  static void carryOut(Image& out, const std::vector<CaptureStep>& steps);
  HWND topLevelAtLocked(Point p);
  void applyDesc(Node& n, const SurfaceDesc& desc);

  const HeadlessOptions options_;
  std::mutex mutex_;
  // Guarded by mutex_.
  InputSink* sink_ = nullptr;
  std::map<HWND, Node> nodes_;
  WindowTree tree_;  // every window of the desktop, top-level Z order included
  std::vector<MonitorInfo> monitors_;
  HWND nextForeign_ = kForeignHandleBit | 0x100;
  Point cursor_;
  std::optional<Rect> clip_;
  CursorShape cursorShape_ = CursorShape::Arrow;
  bool keyHookActive_ = false;
  MenuAnswer menuAnswer_;
  FileAnswer fileAnswer_;
  std::vector<MenuItemView> lastMenu_;
  Point lastMenuPoint_;
  int menuCount_ = 0;
  std::optional<SaveDialogRequest> lastFileDialog_;
};

}  // namespace ui
