#pragma once
// One of this process's windows as the window system keeps it (internal).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ui/Backend.h"
#include "platform/ui/Messages.h"
#include "platform/ui/Types.h"

typedef struct _cairo_surface cairo_surface_t;

namespace ui {

// The largest width or height of a window and its backing image.
constexpr int kMaxWindowExtent = 16384;
inline int clampExtent(int v) { return v < 0 ? 0 : (v > kMaxWindowExtent ? kMaxWindowExtent : v); }

class Window;
class ThreadQueue;

struct WindowData {
  enum class State { Creating, Alive, Destroying };

  ~WindowData();

  HWND hwnd = 0;
  std::shared_ptr<ThreadQueue> queue;  // the owning thread's queue; fixed at creation

  // Guarded by WindowSystem::mutex_. Parent, owner, children and the visible
  // bit live in WindowSystem::tree_; style keeps WS_VISIBLE in step with it.
  Window* object = nullptr;
  State state = State::Creating;
  std::string className;
  std::string title;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  uint32_t classStyle = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  COLORREF background = RGB(255, 255, 255);
  bool hasBackground = true;
  CursorShape cursor = CursorShape::Arrow;
  Rect rect;        // the parent's client coordinates; screen coordinates for top-level windows
  Rect normalRect;  // the restored rectangle while minimised or maximised
  HFONT font = 0;
  Rect invalid;  // client coordinates
  bool eraseNeeded = false;
  bool finalSuppressed = false;  // creation failed: no onFinalMessage

  // Guarded by imageMutex (recursive: a paint handler may take a second
  // device context on its own window).
  std::recursive_mutex imageMutex;
  cairo_surface_t* image = nullptr;  // client size, Cairo RGB24
  // The memory under image (from the backend, which may show it without a
  // copy); its own mutex guards the pixels. A window that shrinks, or grows
  // back within it, keeps it, so a layout pass that resizes by a few pixels
  // neither allocates nor copies. Null while the image is Cairo's own
  // (empty, or memory ran out).
  std::shared_ptr<PixelMemory> memory;
};

}  // namespace ui
