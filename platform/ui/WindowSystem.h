#pragma once
// The window system of the process: this process's windows, their threads'
// message queues, geometry and painting, on top of one Backend that main
// installs once (tests install the headless desktop). Input routing lives in
// InputRouter, the links between windows in a WindowTree, each thread's
// queue and pump in ThreadQueue.
//
// Threads: a window belongs to the thread that created it; its handler runs
// only there. Calls that change a window from another thread run on the
// owning thread through a cross-thread send (or are queued with
// SWP_ASYNCWINDOWPOS). Reads (rectangles, styles, titles) work from any
// thread. mutex_ guards the window table, the tree and every window's fields
// except its backing image, which its own imageMutex guards; handlers, the
// backend and the input router are never called with mutex_ held.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/DefaultWindowProc.h"
#include "platform/ui/InputRouter.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ThreadQueue.h"
#include "platform/ui/Types.h"
#include "platform/ui/WindowTree.h"

typedef struct _cairo_surface cairo_surface_t;

namespace ui {

class Window;
class DeviceContext;
struct WindowData;

class WindowSystem : private MessageDispatcher {
 public:
  // Installs the backend; false when one is installed already.
  static bool install(std::unique_ptr<Backend> backend);
  // Destroys the calling thread's remaining windows (with their messages),
  // drops those of other threads silently and removes the backend.
  static void uninstall();
  // Destroys the calling thread's top-level windows (thread exit).
  void destroyThreadWindows();
  // The installed system, or null.
  static WindowSystem* current();

  Backend& backend() { return *backend_; }
  InputRouter& input() { return input_; }

  ~WindowSystem() override;

  // --- used by the free functions of WindowApi.h and by Window ---
  HWND createWindow(Window* object, HWND parentOrOwner, const Rect& rect, std::string_view title, uint32_t style,
                    uint32_t exStyle, const char* className, void* createParam);
  bool destroyWindow(HWND hwnd);
  bool isWindow(HWND hwnd);
  // Unhooks a window's object (its destructor runs) so later messages get
  // default processing only.
  void detachObject(HWND hwnd);
  // Our window's data, or null.
  std::shared_ptr<WindowData> find(HWND hwnd);

  LRESULT sendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool postMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool postTask(HWND hwnd, std::function<void()> task);
  // Runs task on hwnd's thread and waits for it (directly when that is the
  // calling thread). Answers the task's result, or 0 when hwnd is gone.
  LRESULT runOnWindowThread(HWND hwnd, const std::function<LRESULT()>& task);
  // The same for a task without result; false when the window was gone
  // (before the task reached its thread or when it got there) and the task
  // did not run.
  bool sendTask(HWND hwnd, const std::function<void()>& task);

  bool showWindow(HWND hwnd, int cmd);
  bool setWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
  HWND setParent(HWND hwnd, HWND parent);
  bool setOwner(HWND hwnd, HWND owner);
  bool setStyle(HWND hwnd, uint32_t style, bool extended);
  bool setTitle(HWND hwnd, std::string_view title);
  bool setForeground(HWND hwnd);

  bool invalidate(HWND hwnd, const Rect* rect, bool erase);
  bool validate(HWND hwnd);
  bool updateWindow(HWND hwnd);
  // Copies the window's client pixels to the desktop (dirty in client
  // coordinates; null for all).
  bool present(HWND hwnd, const Rect* dirty);

  uint32_t setTimer(HWND hwnd, uint32_t id, uint32_t ms);
  bool killTimer(HWND hwnd, uint32_t id);

  int runMessageLoop();
  void postQuit(int code);
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  void pumpPending();

  // Key hooks (see InputRouter).
  using KeyHook = InputRouter::KeyHook;
  int addKeyHook(KeyHook hook) { return input_.addKeyHook(std::move(hook)); }
  bool removeKeyHook(int id) { return input_.removeKeyHook(id); }

  // Queries that answer for this process's windows from the window table and
  // for foreign ones from the backend.
  std::optional<DesktopWindowInfo> windowInfo(HWND hwnd);
  std::vector<HWND> children(HWND hwnd);
  // This process's top-level windows, hidden ones too, in Z order.
  std::vector<HWND> ownTopLevels();
  // See isWindowExposed().
  bool isExposed(HWND hwnd);
  Rect windowRectScreen(HWND hwnd);
  // The restored rectangle (the parent's client coordinates).
  Rect normalRect(HWND hwnd);
  Point clientOrigin(HWND hwnd);
  // This process's window's parent, 0 for a top-level one.
  HWND parentOf(HWND hwnd);
  // The deepest visible, enabled window of top's tree under a screen point.
  HWND hitTest(HWND top, Point screen);
  uint32_t classStyle(HWND hwnd);

  // Painting support for DeviceContext users: locks the window's image and
  // gives its surface (null when the window is gone).
  struct ImageAccess {
    std::shared_ptr<WindowData> data;
    cairo_surface_t* surface = nullptr;
    std::shared_ptr<PixelMemory> memory;  // locked with the image
  };
  ImageAccess lockImage(HWND hwnd);
  void unlockImage(ImageAccess& access);
  // Takes and clears the invalid area (BeginPaint); erase tells whether
  // WM_ERASEBKGND is due.
  Rect takeInvalid(HWND hwnd, bool& erase);
  uint32_t classBackground(HWND hwnd, bool& has);
  CursorShape classCursor(HWND hwnd);
  HFONT windowFont(HWND hwnd);
  void setWindowFont(HWND hwnd, HFONT font);

  // Default processing (Window::defaultHandle).
  LRESULT defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return defaultProc_.handle(hwnd, msg, wParam, lParam);
  }

 private:
  explicit WindowSystem(std::unique_ptr<Backend> backend);

  LRESULT dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // MessageDispatcher: what this thread's queue takes out.
  LRESULT runSent(const SendRecord& record) override;
  void runPosted(PostedItem& item) override;
  void runTimer(HWND hwnd, uint32_t id) override;
  void runPaint(HWND hwnd) override;
  void paintWindow(HWND hwnd);

  bool showWindowOwned(HWND hwnd, int cmd);
  bool setWindowPosOwned(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
  void destroyTree(HWND hwnd, bool runFinal);
  void sendDestroyMessages(HWND hwnd);
  void finishWindow(HWND hwnd, bool runFinal);
  // Sets the style and keeps the tree's visible bit in step.
  void setStyleLocked(WindowData& w, uint32_t style);
  bool maximizesToWorkArea(HWND hwnd);
  void resizeImage(WindowData& w, int cx, int cy);
  SurfaceDesc describeLocked(const WindowData& w) const;
  void syncSurface(HWND hwnd);
  Point clientOriginLocked(HWND hwnd) const;

  std::unique_ptr<Backend> backend_;  // fixed from install to uninstall; has its own lock

  std::mutex mutex_;
  // Guarded by mutex_.
  std::map<HWND, std::shared_ptr<WindowData>> windows_;
  WindowTree tree_;

  // Has its own lock; see InputRouter.h for the order.
  InputRouter input_{*this};
  DefaultWindowProc defaultProc_{*this};
};

}  // namespace ui
