#include "platform/ui/backends/X11Surface.h"

#include <xcb/shm.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ui/backends/X11Connection.h"
#include "platform/ui/backends/X11ShmPixels.h"

namespace ui {

namespace {

constexpr int kBytesPerPixel = 4;
constexpr uint32_t kWhite = 0x00FFFFFF;

}  // namespace

X11Surface::X11Surface(X11Connection& x, xcb_window_t window, xcb_gcontext_t gc, bool useShm, int width, int height)
    : x_(x), window_(window), gc_(gc), useShm_(useShm) {
  std::lock_guard lock(mutex_);
  resizeOwnLocked(width, height);
}

X11Surface::~X11Surface() {
  // Memory of its own waits for the server's last read as it goes.
  std::lock_guard lock(mutex_);
  memory_.reset();
}

bool X11Surface::shared() {
  std::lock_guard lock(mutex_);
  return shm_ != nullptr;
}

bool X11Surface::showsWindowMemory() {
  std::lock_guard lock(mutex_);
  return adopted_;
}

X11ShmPixels* X11Surface::adoptable(const ImageView& image) const {
  auto* shm = dynamic_cast<X11ShmPixels*>(image.memory.get());
  if (!shm || shm->connection() != &x_ || image.data != shm->data()) return nullptr;
  // The picture must lie inside the memory.
  if (image.stride != shm->stride() || image.height > shm->rows() ||
      static_cast<int64_t>(image.width) * kBytesPerPixel > image.stride) {
    return nullptr;
  }
  return shm;
}

void X11Surface::resize(int width, int height) {
  std::lock_guard lock(mutex_);
  if (!adopted_) resizeOwnLocked(width, height);
}

void X11Surface::resizeOwnLocked(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (memory_ && !adopted_ && width == width_ && height == height_) return;
  const int stride = width * kBytesPerPixel;
  std::shared_ptr<PixelMemory> fresh;
  X11ShmPixels* shm = nullptr;
  if (useShm_) {
    auto segment = X11ShmPixels::create(x_, stride, height);
    shm = segment.get();
    fresh = std::move(segment);
  }
  if (!fresh) fresh = PixelMemory::allocate(stride, height);
  if (!fresh) return;  // out of memory: keep showing the old pixels
  // What fits of the old pixels stays (the server only reads them).
  fresh->keepPicture(memory_.get(), width_, height_, width, height, kWhite);
  memory_ = std::move(fresh);
  shm_ = shm;
  adopted_ = false;
  width_ = width;
  height_ = height;
}

void X11Surface::present(const ImageView& image, const Rect& dirty) {
  if (!image.data || image.width <= 0 || image.height <= 0) return;
  std::lock_guard lock(mutex_);
  if (X11ShmPixels* shm = adoptable(image)) {
    // The window's own segment: the server copies straight from it.
    memory_ = image.memory;
    shm_ = shm;
    adopted_ = true;
    width_ = image.width;
    height_ = image.height;
    Rect show = dirty.intersect({0, 0, width_, height_});
    if (!show.isEmpty()) putLocked(show);
    return;
  }
  Rect copy = dirty;
  if (adopted_ || image.width != width_ || image.height != height_) {
    if (adopted_) copy = {0, 0, image.width, image.height};
    resizeOwnLocked(image.width, image.height);
  }
  copy = copy.intersect({0, 0, std::min(image.width, width_), std::min(image.height, height_)});
  if (copy.isEmpty() || adopted_) return;
  // The server may still be reading the memory for the previous copy.
  memory_->waitReaders();
  uint8_t* p = memory_->data();
  const size_t rowBytes = static_cast<size_t>(copy.width()) * kBytesPerPixel;
  for (int y = copy.top; y < copy.bottom; ++y) {
    std::memcpy(p + static_cast<size_t>(y) * memory_->stride() + static_cast<size_t>(copy.left) * kBytesPerPixel,
                image.data + static_cast<size_t>(y) * image.stride + static_cast<size_t>(copy.left) * kBytesPerPixel,
                rowBytes);
  }
  putLocked(copy);
}

void X11Surface::repaint(const Rect& rect) {
  std::lock_guard lock(mutex_);
  Rect r = rect.intersect({0, 0, width_, height_});
  if (!r.isEmpty() && memory_) putLocked(r);
}

void X11Surface::putLocked(const Rect& r) {
  xcb_connection_t* c = x_.get();
  const uint8_t depth = 24;
  if (shm_) {
    xcb_shm_put_image(c, window_, gc_, static_cast<uint16_t>(shm_->stride() / kBytesPerPixel),
                      static_cast<uint16_t>(shm_->rows()), static_cast<uint16_t>(r.left), static_cast<uint16_t>(r.top),
                      static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height()), static_cast<int16_t>(r.left),
                      static_cast<int16_t>(r.top), depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, shm_->segment(), 0);
    shm_->fenceAfterRead();
    xcb_flush(c);
    return;
  }
  // Core PutImage: rows of the rectangle packed together, as many rows per
  // request as the server takes (its header is 24 bytes).
  const size_t rowBytes = static_cast<size_t>(r.width()) * kBytesPerPixel;
  const size_t room = x_.maxRequestBytes() > 64 ? x_.maxRequestBytes() - 64 : rowBytes;
  const int rowsPerStrip = std::max<int>(1, static_cast<int>(room / rowBytes));
  std::vector<uint8_t> strip;
  const uint8_t* src = memory_->data();
  const size_t stride = static_cast<size_t>(memory_->stride());
  for (int top = r.top; top < r.bottom; top += rowsPerStrip) {
    int rows = std::min(rowsPerStrip, r.bottom - top);
    strip.resize(rowBytes * rows);
    for (int y = 0; y < rows; ++y) {
      std::memcpy(strip.data() + y * rowBytes,
                  src + static_cast<size_t>(top + y) * stride + static_cast<size_t>(r.left) * kBytesPerPixel, rowBytes);
    }
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<uint16_t>(r.width()),
                  static_cast<uint16_t>(rows), static_cast<int16_t>(r.left), static_cast<int16_t>(top), 0, depth,
                  static_cast<uint32_t>(strip.size()), strip.data());
  }
  xcb_flush(c);
}

}  // namespace ui
