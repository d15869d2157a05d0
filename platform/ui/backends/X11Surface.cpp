#include "platform/ui/backends/X11Surface.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/ui/backends/X11Connection.h"

namespace ui {

namespace {

constexpr int kBytesPerPixel = 4;
constexpr uint32_t kWhite = 0x00FFFFFF;

void fillWhite(uint8_t* p, size_t pixels) { std::fill_n(reinterpret_cast<uint32_t*>(p), pixels, kWhite); }

}  // namespace

X11Surface::X11Surface(X11Connection& x, xcb_window_t window, xcb_gcontext_t gc, bool useShm, int width, int height)
    : x_(x), window_(window), gc_(gc), useShm_(useShm) {
  std::lock_guard lock(mutex_);
  allocateLocked(std::max(width, 1), std::max(height, 1));
  fillWhite(pixelsLocked(), static_cast<size_t>(width_) * height_);
}

X11Surface::~X11Surface() {
  std::lock_guard lock(mutex_);
  releaseLocked();
}

bool X11Surface::shared() {
  std::lock_guard lock(mutex_);
  return shmAddr_ != nullptr;
}

void X11Surface::allocateLocked(int width, int height) {
  width_ = width;
  height_ = height;
  size_t size = static_cast<size_t>(width) * height * kBytesPerPixel;
  if (useShm_) {
    int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id >= 0) {
      void* addr = shmat(id, nullptr, 0);
      if (addr != reinterpret_cast<void*>(-1)) {
        uint32_t seg = xcb_generate_id(x_.get());
        xcb_generic_error_t* err = xcb_request_check(x_.get(), xcb_shm_attach_checked(x_.get(), seg, id, 0));
        if (!err) {
          shmAddr_ = static_cast<uint8_t*>(addr);
          shmSeg_ = seg;
        } else {
          // Refused (a server on another machine, or no access): PutImage.
          free(err);
          shmdt(addr);
        }
      }
      // The segment lives on while attached; removing the name now means
      // a crash cannot leak it.
      shmctl(id, IPC_RMID, nullptr);
    }
  }
  if (!shmAddr_) heap_.assign(size, 0);
}

void X11Surface::releaseLocked() {
  waitFenceLocked();
  if (shmAddr_) {
    xcb_shm_detach(x_.get(), shmSeg_);
    shmdt(shmAddr_);
    shmAddr_ = nullptr;
    shmSeg_ = 0;
  }
  heap_.clear();
  heap_.shrink_to_fit();
}

void X11Surface::waitFenceLocked() {
  if (!fence_) return;
  free(xcb_get_input_focus_reply(x_.get(), *fence_, nullptr));
  fence_.reset();
}

void X11Surface::resize(int width, int height) {
  std::lock_guard lock(mutex_);
  resizeLocked(width, height);
}

void X11Surface::resizeLocked(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == width_ && height == height_) return;
  int oldWidth = width_;
  int oldHeight = height_;
  waitFenceLocked();
  std::vector<uint8_t> old(pixelsLocked(), pixelsLocked() + static_cast<size_t>(oldWidth) * oldHeight * kBytesPerPixel);
  releaseLocked();
  allocateLocked(width, height);
  uint8_t* p = pixelsLocked();
  fillWhite(p, static_cast<size_t>(width) * height);
  for (int y = 0; y < std::min(height, oldHeight); ++y) {
    std::memcpy(p + static_cast<size_t>(y) * width * kBytesPerPixel,
                old.data() + static_cast<size_t>(y) * oldWidth * kBytesPerPixel,
                static_cast<size_t>(std::min(width, oldWidth)) * kBytesPerPixel);
  }
}

void X11Surface::present(const ImageView& image, const Rect& dirty) {
  if (!image.data || image.width <= 0 || image.height <= 0) return;
  std::lock_guard lock(mutex_);
  if (image.width != width_ || image.height != height_) resizeLocked(image.width, image.height);
  Rect copy = dirty.intersect({0, 0, std::min(image.width, width_), std::min(image.height, height_)});
  if (copy.isEmpty()) return;
  // The server may still be reading the segment for the previous copy.
  waitFenceLocked();
  uint8_t* p = pixelsLocked();
  const size_t rowBytes = static_cast<size_t>(copy.width()) * kBytesPerPixel;
  for (int y = copy.top; y < copy.bottom; ++y) {
    std::memcpy(p + (static_cast<size_t>(y) * width_ + copy.left) * kBytesPerPixel,
                image.data + static_cast<size_t>(y) * image.stride + static_cast<size_t>(copy.left) * kBytesPerPixel,
                rowBytes);
  }
  putLocked(copy);
}

void X11Surface::repaint(const Rect& rect) {
  std::lock_guard lock(mutex_);
  Rect r = rect.intersect({0, 0, width_, height_});
  if (!r.isEmpty()) putLocked(r);
}

void X11Surface::putLocked(const Rect& r) {
  xcb_connection_t* c = x_.get();
  const uint8_t depth = 24;
  if (shmAddr_) {
    xcb_shm_put_image(c, window_, gc_, static_cast<uint16_t>(width_), static_cast<uint16_t>(height_),
                      static_cast<uint16_t>(r.left), static_cast<uint16_t>(r.top), static_cast<uint16_t>(r.width()),
                      static_cast<uint16_t>(r.height()), static_cast<int16_t>(r.left), static_cast<int16_t>(r.top),
                      depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, shmSeg_, 0);
    // A reply to a later request means the server is done with the copy.
    if (fence_) xcb_discard_reply(c, fence_->sequence);
    fence_ = xcb_get_input_focus(c);
    xcb_flush(c);
    return;
  }
  // Core PutImage: rows of the rectangle packed together, as many rows per
  // request as the server takes (its header is 24 bytes).
  const size_t rowBytes = static_cast<size_t>(r.width()) * kBytesPerPixel;
  const size_t room = x_.maxRequestBytes() > 64 ? x_.maxRequestBytes() - 64 : rowBytes;
  const int rowsPerStrip = std::max<int>(1, static_cast<int>(room / rowBytes));
  std::vector<uint8_t> strip;
  const uint8_t* src = heap_.data();
  for (int top = r.top; top < r.bottom; top += rowsPerStrip) {
    int rows = std::min(rowsPerStrip, r.bottom - top);
    strip.resize(rowBytes * rows);
    for (int y = 0; y < rows; ++y) {
      std::memcpy(strip.data() + y * rowBytes, src + (static_cast<size_t>(top + y) * width_ + r.left) * kBytesPerPixel,
                  rowBytes);
    }
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<uint16_t>(r.width()),
                  static_cast<uint16_t>(rows), static_cast<int16_t>(r.left), static_cast<int16_t>(top), 0, depth,
                  static_cast<uint32_t>(strip.size()), strip.data());
  }
  xcb_flush(c);
}

}  // namespace ui
