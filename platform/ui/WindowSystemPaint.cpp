// WindowSystem: invalid areas, WM_PAINT, backing images and presenting them.
#include "platform/ui/WindowSystem.h"

#include <cairo.h>

#include <algorithm>

#include "platform/ui/ThreadQueue.h"
#include "platform/ui/WindowData.h"

namespace ui {

// ---------------------------------------------------------------- backing images

void WindowSystem::resizeImage(WindowData& w, int cx, int cy) {
  cx = clampExtent(cx);
  cy = clampExtent(cy);
  std::lock_guard imageLock(w.imageMutex);
  if (w.image && cairo_image_surface_get_width(w.image) == cx && cairo_image_surface_get_height(w.image) == cy) {
    return;
  }
  cairo_surface_t* fresh = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
  cairo_t* cr = cairo_create(fresh);
  COLORREF bg = RGB(255, 255, 255);
  {
    std::lock_guard lock(mutex_);
    if (w.hasBackground) bg = w.background;
  }
  cairo_set_source_rgb(cr, GetRValue(bg) / 255.0, GetGValue(bg) / 255.0, GetBValue(bg) / 255.0);
  cairo_paint(cr);
  if (w.image) {
    // Keep what was drawn so a grown window does not flash until repainted.
    cairo_set_source_surface(cr, w.image, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(w.image);
  }
  cairo_destroy(cr);
  w.image = fresh;
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
  }
  return access;
}

void WindowSystem::unlockImage(ImageAccess& access) {
  if (!access.data) return;
  cairo_surface_flush(access.surface);
  access.surface = nullptr;
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
