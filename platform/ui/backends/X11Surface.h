#pragma once
// The pixels of one of this process's X windows. A surface keeps what the
// window shows at the window's size, so an Expose is answered from it
// without asking the window system to paint.
//
// A window whose image lies in a shared segment (X11ShmPixels, from the
// desktop's allocatePixels) is shown from that memory itself: a present
// asks the server to copy the dirty rectangle from the segment to the
// window, and the window system waits for the server to be done before it
// draws again. Otherwise the surface has memory of its own (shared with the
// server when it accepts a segment) that a present copies the dirty
// rectangle into; without SHM that memory goes out in core PutImage
// requests cut into strips that fit the server's largest request.
//
// Threads: any; mutex_ guards everything. The video renderer presents from
// its thread while the event thread answers Expose. An Expose that comes
// while the window's own memory is being drawn into may show a picture
// part-way drawn until the present that follows.
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/ui/Backend.h"
#include "platform/ui/Types.h"

namespace ui {

class X11Connection;
class X11ShmPixels;

class X11Surface {
 public:
  // useShm: try a shared segment for memory of its own (falls back to
  // PutImage when refused).
  X11Surface(X11Connection& x, xcb_window_t window, xcb_gcontext_t gc, bool useShm, int width, int height);
  ~X11Surface();

  X11Surface(const X11Surface&) = delete;
  X11Surface& operator=(const X11Surface&) = delete;

  // A new size: keeps what fits of the old pixels, the rest white. A
  // surface showing the window's memory waits for its next present.
  void resize(int width, int height);
  // Shows dirty (client coordinates) of image: from image.memory when it is
  // a segment of this connection, else copied into memory of its own. An
  // image of another size than the surface resizes the surface first.
  void present(const ImageView& image, const Rect& dirty);
  // Shows the pixels in rect again (Expose).
  void repaint(const Rect& rect);
  // Whether the server reads the pixels from a shared segment.
  bool shared();
  // Whether the surface shows the window's memory without a copy.
  bool showsWindowMemory();

 private:
  X11ShmPixels* adoptable(const ImageView& image) const;
  void resizeOwnLocked(int width, int height);
  void putLocked(const Rect& rect);

  X11Connection& x_;
  const xcb_window_t window_;
  const xcb_gcontext_t gc_;
  const bool useShm_;

  std::mutex mutex_;
  // Guarded by mutex_.
  std::shared_ptr<PixelMemory> memory_;  // what the window shows
  X11ShmPixels* shm_ = nullptr;          // memory_ when it is a segment
  bool adopted_ = false;                 // memory_ is the window's own
  int width_ = 0;                        // the picture's size in memory_
  int height_ = 0;
};

}  // namespace ui
