#pragma once
// The pixels of one of this process's X windows. A surface keeps a copy of
// everything the window presented (the shadow) at the window's size, so an
// Expose is answered from it without asking the window system to paint.
//
// The shadow lives in a MIT-SHM segment shared with the server when the
// server accepts one; a present copies the dirty rectangle into it and asks
// the server to copy it to the window. The server reads the segment after
// the request returns, so before the next write into it the surface waits
// for a round trip sent behind the last copy (its "fence"). When SHM is
// refused the shadow is ordinary memory sent with core PutImage requests,
// cut into strips that fit the server's largest request.
//
// Threads: any; mutex_ guards everything. The video renderer presents from
// its thread while the event thread answers Expose.
#include <xcb/xcb.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/Types.h"

namespace ui {

class X11Connection;

class X11Surface {
 public:
  // useShm: try a shared segment (falls back to PutImage when refused).
  X11Surface(X11Connection& x, xcb_window_t window, xcb_gcontext_t gc, bool useShm, int width, int height);
  ~X11Surface();

  X11Surface(const X11Surface&) = delete;
  X11Surface& operator=(const X11Surface&) = delete;

  // A new size: keeps what fits of the old pixels, the rest white.
  void resize(int width, int height);
  // Copies dirty (client coordinates) of image into the shadow and shows it.
  // An image of another size than the surface resizes the surface first.
  void present(const ImageView& image, const Rect& dirty);
  // Shows the shadow's pixels in rect again (Expose).
  void repaint(const Rect& rect);
  // Whether the shadow is in a shared segment.
  bool shared();

 private:
  void resizeLocked(int width, int height);
  void allocateLocked(int width, int height);
  void releaseLocked();
  void waitFenceLocked();
  void putLocked(const Rect& rect);
  uint8_t* pixelsLocked() { return shmAddr_ ? shmAddr_ : heap_.data(); }

  X11Connection& x_;
  const xcb_window_t window_;
  const xcb_gcontext_t gc_;
  const bool useShm_;

  std::mutex mutex_;
  // Guarded by mutex_.
  int width_ = 0;
  int height_ = 0;
  uint8_t* shmAddr_ = nullptr;  // the shared segment, when attached
  uint32_t shmSeg_ = 0;         // its server id
  std::vector<uint8_t> heap_;   // the shadow without SHM
  std::optional<xcb_get_input_focus_cookie_t> fence_;
};

}  // namespace ui
