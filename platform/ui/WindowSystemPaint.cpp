// WindowSystem: invalid areas, WM_PAINT, backing images and presenting them.
#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/ui/ThreadQueue.h"
#include "platform/ui/WindowData.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

// ---------------------------------------------------------------- backing images

namespace {

// Fills x in [left, right), y in [top, bottom) of a 32-bit image.
void fillPixels(uint8_t* data, int stride, int left, int top, int right, int bottom, uint32_t rgb) {
  for (int y = top; y < bottom; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    std::fill(row + left, row + right, rgb);
  }
}

}  // namespace

void WindowSystem::resizeImage(WindowData& w, int cx, int cy) {
  cx = clampExtent(cx);
  cy = clampExtent(cy);
  COLORREF bg = RGB(255, 255, 255);
  {
    std::lock_guard lock(mutex_);
    if (w.hasBackground) bg = w.background;
  }
  const uint32_t fill =
      (static_cast<uint32_t>(GetRValue(bg)) << 16) | (static_cast<uint32_t>(GetGValue(bg)) << 8) | GetBValue(bg);
  std::lock_guard imageLock(w.imageMutex);
  const int oldWidth = w.image ? cairo_image_surface_get_width(w.image) : 0;
  const int oldHeight = w.image ? cairo_image_surface_get_height(w.image) : 0;
  if (w.image && oldWidth == cx && oldHeight == cy) return;
  if (cx == 0 || cy == 0) {
    // Nothing to draw on; Cairo keeps an empty image of its own.
    if (w.image) cairo_surface_destroy(w.image);
    w.image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
    w.memory.reset();
    return;
  }
  // Rows padded to whole groups of sixteen pixels, which the video
  // scaler's vector code writes at once.
  const int stride = (cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, cx) + 63) & ~63;
  const int64_t needed = static_cast<int64_t>(stride) * cy;
  const std::shared_ptr<PixelMemory> held = w.memory;
  // The held memory serves while it is large enough and not more than four
  // times what the new size needs (a cell grown to full screen and back to
  // a grid cell gives the memory back).
  const bool reuse = held && stride <= held->stride() && cy <= held->rows() &&
                     static_cast<int64_t>(held->stride()) * held->rows() <= needed * 4;
  if (reuse) {
    // Same memory, same row stride: the old pixels stay where they were;
    // only what the window gained is filled with its background.
    std::lock_guard pixelLock(held->mutex());
    held->waitReaders();
    uint8_t* data = held->data();
    cairo_surface_t* fresh = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_RGB24, cx, cy, held->stride());
    if (cairo_surface_status(fresh) == CAIRO_STATUS_SUCCESS) {
      if (w.image) {
        cairo_surface_flush(w.image);
        cairo_surface_destroy(w.image);
      }
      fillPixels(data, held->stride(), std::min(oldWidth, cx), 0, cx, std::min(oldHeight, cy), fill);
      fillPixels(data, held->stride(), 0, std::min(oldHeight, cy), cx, cy, fill);
      cairo_surface_mark_dirty(fresh);
      w.image = fresh;
      return;
    }
    cairo_surface_destroy(fresh);
  }
  std::shared_ptr<PixelMemory> memory = backend_->allocatePixels(stride, cy);
  cairo_surface_t* fresh = memory ? cairo_image_surface_create_for_data(memory->data(), CAIRO_FORMAT_RGB24, cx, cy,
                                                                        memory->stride())
                                  : cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
  auto* data = cairo_image_surface_get_data(fresh);
  if (data) {
    // Keep what was drawn so a grown window does not flash until repainted.
    // Nobody else reads the new memory yet; the old one is only read.
    const int keepWidth = std::min(oldWidth, cx);
    const int keepHeight = std::min(oldHeight, cy);
    const uint8_t* old = nullptr;
    int oldStride = 0;
    if (w.image && keepWidth > 0 && keepHeight > 0) {
      cairo_surface_flush(w.image);
      old = cairo_image_surface_get_data(w.image);
      oldStride = cairo_image_surface_get_stride(w.image);
    }
    const int freshStride = cairo_image_surface_get_stride(fresh);
    if (old) {
      for (int y = 0; y < keepHeight; ++y) {
        std::memcpy(data + static_cast<size_t>(y) * freshStride, old + static_cast<size_t>(y) * oldStride,
                    static_cast<size_t>(keepWidth) * 4);
      }
      fillPixels(data, freshStride, keepWidth, 0, cx, keepHeight, fill);
      fillPixels(data, freshStride, 0, keepHeight, cx, cy, fill);
    } else {
      fillPixels(data, freshStride, 0, 0, cx, cy, fill);
    }
    cairo_surface_mark_dirty(fresh);
  }
  if (w.image) cairo_surface_destroy(w.image);
  w.image = fresh;
  w.memory = memory && data ? std::move(memory) : nullptr;
}

// ---------------------------------------------------------------- painting

bool WindowSystem::invalidate(HWND hwnd, const Rect* rect, bool erase) {
  std::shared_ptr<ThreadQueue> q;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    WindowData& w = *it->second;
    Rect client{0, 0, w.rect.width(), w.rect.height()};
    Rect r = rect ? rect->intersect(client) : client;
    if (r.isEmpty()) return true;
    w.invalid = w.invalid.unite(r);
    if (erase) w.eraseNeeded = true;
    if (!tree_.isVisible(hwnd)) return true;  // painted when shown
    q = w.queue;
  }
  q->requestPaint(hwnd);
  return true;
}

bool WindowSystem::validate(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return false;
  it->second->invalid = {};
  it->second->eraseNeeded = false;
  return true;
}

Rect WindowSystem::takeInvalid(HWND hwnd, bool& erase) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) {
    erase = false;
    return {};
  }
  Rect r = it->second->invalid;
  erase = it->second->eraseNeeded;
  it->second->invalid = {};
  it->second->eraseNeeded = false;
  return r;
}

void WindowSystem::paintWindow(HWND hwnd) {
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || it->second->invalid.isEmpty() || !tree_.isVisible(hwnd)) return;
  }
  dispatch(hwnd, WM_PAINT, 0, 0);
  // A handler that painted nothing must not cause an endless stream of
  // WM_PAINT; what it left invalid is dropped.
  validate(hwnd);
}

bool WindowSystem::updateWindow(HWND hwnd) {
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return runOnWindowThread(hwnd, [this, hwnd] { return LRESULT{updateWindow(hwnd)}; }) != 0;
  }
  paintWindow(hwnd);
  return true;
}

WindowSystem::ImageAccess WindowSystem::lockImage(HWND hwnd) {
  ImageAccess access;
  access.data = find(hwnd);
  if (!access.data) return access;
  access.data->imageMutex.lock();
  access.surface = access.data->image;
  if (!access.surface) {
    access.data->imageMutex.unlock();
    access.data.reset();
    return access;
  }
  // The desktop may still be reading what was shown last from this memory.
  access.memory = access.data->memory;
  if (access.memory) {
    access.memory->mutex().lock();
    access.memory->waitReaders();
  }
  return access;
}

void WindowSystem::unlockImage(ImageAccess& access) {
  if (!access.data) return;
  cairo_surface_flush(access.surface);
  access.surface = nullptr;
  if (access.memory) access.memory->mutex().unlock();
  access.memory.reset();
  access.data->imageMutex.unlock();
  access.data.reset();
}

bool WindowSystem::present(HWND hwnd, const Rect* dirty) {
  auto data = find(hwnd);
  if (!data) return false;
  std::lock_guard imageLock(data->imageMutex);
  if (!data->image) return false;
  cairo_surface_flush(data->image);
  ImageView view;
  view.data = cairo_image_surface_get_data(data->image);
  view.width = cairo_image_surface_get_width(data->image);
  view.height = cairo_image_surface_get_height(data->image);
  view.stride = cairo_image_surface_get_stride(data->image);
  if (data->memory && data->memory->data() == view.data) view.memory = data->memory;
  Rect all{0, 0, view.width, view.height};
  Rect r = dirty ? dirty->intersect(all) : all;
  backend_->present(hwnd, view, r);
  return true;
}

uint32_t WindowSystem::classBackground(HWND hwnd, bool& has) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  has = it != windows_.end() && it->second->hasBackground;
  return has ? it->second->background : 0;
}

CursorShape WindowSystem::classCursor(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? CursorShape::Arrow : it->second->cursor;
}

HFONT WindowSystem::windowFont(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? 0 : it->second->font;
}

void WindowSystem::setWindowFont(HWND hwnd, HFONT font) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it != windows_.end()) it->second->font = font;
}

}  // namespace ui
