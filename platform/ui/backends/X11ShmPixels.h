#pragma once
// Pixel memory in a MIT-SHM segment attached to the X server: the server
// copies a window's pixels straight from it (ShmPutImage), so what is drawn
// into it is shown without a copy in this process.
//
// The server reads the segment after the request has returned. Whoever
// sends a request that reads it calls fenceAfterRead(); waitReaders() then
// waits for the reply to a request sent behind it, after which the server
// is done with the pixels.
//
// Threads: any; fenceMutex_ guards the fence. The segment stays attached
// (and the connection open) while the memory lives.
#include <xcb/xcb.h>

#include <memory>
#include <mutex>
#include <optional>

#include "platform/ui/PixelMemory.h"

namespace ui {

class X11Connection;

class X11ShmPixels : public PixelMemory {
 public:
  // Null when the memory cannot be had here (no segment left, not enough
  // memory) or the server refuses the segment (another machine, no
  // access); refusedByServer tells the second.
  static std::shared_ptr<X11ShmPixels> create(X11Connection& x, int stride, int rows, bool* refusedByServer = nullptr);
  ~X11ShmPixels() override;

  void waitReaders() override;
  // Call after sending a request that reads the segment.
  void fenceAfterRead();
  uint32_t segment() const { return segment_; }
  const X11Connection* connection() const { return x_.get(); }

  X11ShmPixels(std::shared_ptr<X11Connection> x, uint8_t* address, uint32_t segment, int stride, int rows);

 private:
  void waitLocked();

  const std::shared_ptr<X11Connection> x_;
  const uint32_t segment_;
  std::mutex fenceMutex_;
  std::optional<xcb_get_input_focus_cookie_t> fence_;  // guarded by fenceMutex_
};

}  // namespace ui
