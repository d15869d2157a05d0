#include "platform/ui/WindowSystem.h"

#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "platform/ui/FontRegistry.h"
#include "platform/ui/HandlerGuard.h"
#include "platform/ui/ThreadQueue.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowData.h"

namespace ui {

namespace {

std::mutex gInstallMutex;
// Guarded by gInstallMutex; gCurrent mirrors it for lock-free reads.
std::unique_ptr<WindowSystem> gOwned;
std::atomic<WindowSystem*> gCurrent{nullptr};

// Handles are never reused within the process, not even across a reinstall,
// so a stale handle can never name a newer window.
std::atomic<HWND> gNextHandle{0x00010000};

constexpr uint32_t kMinTimerMs = 10;

}  // namespace

WindowData::~WindowData() {
  // The image may sit on memory, which goes after it.
  if (image) cairo_surface_destroy(image);
}

// ---------------------------------------------------------------- install

WindowSystem::WindowSystem(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

WindowSystem::~WindowSystem() = default;

bool WindowSystem::install(std::unique_ptr<Backend> backend) {
  std::lock_guard lock(gInstallMutex);
  if (gOwned || !backend) return false;
  gOwned.reset(new WindowSystem(std::move(backend)));
  gOwned->backend_->attach(&gOwned->input_);
  gCurrent = gOwned.get();
  return true;
}

void WindowSystem::destroyThreadWindows() {
  // Top-level windows get their normal destruction so their objects see
  // WM_DESTROY and their final message; children go with them. Children of
  // another thread's window are destroyed on their own.
  std::vector<HWND> mine;
  ThreadQueue* self = ThreadQueue::currentIfAny();
  if (!self) return;
  {
    std::lock_guard lock(mutex_);
    for (auto& [h, d] : windows_) {
      if (d->queue.get() != self) continue;
      auto parent = windows_.find(tree_.parent(h));
      if (parent == windows_.end() || parent->second->queue.get() != self) mine.push_back(h);
    }
  }
  for (HWND h : mine) destroyWindow(h);
}

void WindowSystem::uninstall() {
  WindowSystem* ws = current();
  if (!ws) return;
  ws->destroyThreadWindows();
  releaseThreadFontMap();
  std::lock_guard lock(gInstallMutex);
  gOwned->backend_->attach(nullptr);
  gCurrent = nullptr;
  gOwned.reset();
}

WindowSystem* WindowSystem::current() { return gCurrent.load(); }

// ---------------------------------------------------------------- lookup

std::shared_ptr<WindowData> WindowSystem::find(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : it->second;
}

bool WindowSystem::isWindow(HWND hwnd) {
  if (hwnd == 0) return false;
  if (isForeignHandle(hwnd)) return backend_->windowInfo(hwnd).has_value();
  std::lock_guard lock(mutex_);
  return windows_.count(hwnd) > 0;
}

void WindowSystem::detachObject(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it != windows_.end()) it->second->object = nullptr;
}

Point WindowSystem::clientOriginLocked(HWND hwnd) const {
  Point p;
  for (HWND h = hwnd; h; h = tree_.parent(h)) {
    auto it = windows_.find(h);
    if (it == windows_.end()) break;
    p.x += it->second->rect.left;
    p.y += it->second->rect.top;
  }
  return p;
}

HWND WindowSystem::parentOf(HWND hwnd) {
  std::lock_guard lock(mutex_);
  return tree_.parent(hwnd);
}

bool WindowSystem::maximizesToWorkArea(HWND hwnd) {
  // A window with neither a parent nor the child style, and no owner it
  // pops up from, fills its monitor's work area when maximised.
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end() || tree_.parent(hwnd)) return false;
  uint32_t style = it->second->style;
  if (style & WS_CHILD) return false;
  return !((style & WS_POPUP) && tree_.owner(hwnd));
}

void WindowSystem::setStyleLocked(WindowData& w, uint32_t style) {
  w.style = style;
  tree_.setVisible(w.hwnd, (style & WS_VISIBLE) != 0);
}

Point WindowSystem::clientOrigin(HWND hwnd) {
  if (isForeignHandle(hwnd)) {
    auto info = backend_->windowInfo(hwnd);
    return info ? Point{info->clientRect.left, info->clientRect.top} : Point{};
  }
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? Point{} : clientOriginLocked(hwnd);
}

Rect WindowSystem::windowRectScreen(HWND hwnd) {
  if (isForeignHandle(hwnd)) {
    auto info = backend_->windowInfo(hwnd);
    return info ? info->windowRect : Rect{};
  }
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return {};
  Point o = clientOriginLocked(hwnd);
  return Rect::fromSize(o.x, o.y, it->second->rect.width(), it->second->rect.height());
}

Rect WindowSystem::normalRect(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? Rect{} : it->second->normalRect;
}

std::optional<DesktopWindowInfo> WindowSystem::windowInfo(HWND hwnd) {
  if (hwnd == 0) return std::nullopt;
  if (isForeignHandle(hwnd)) return backend_->windowInfo(hwnd);
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return std::nullopt;
  const WindowData& w = *it->second;
  DesktopWindowInfo info;
  info.hwnd = hwnd;
  info.parent = tree_.parent(hwnd);
  info.owner = tree_.owner(hwnd);
  info.processId = static_cast<uint32_t>(::getpid());
  info.visible = tree_.isVisible(hwnd);
  info.minimized = (w.style & WS_MINIMIZE) != 0;
  info.maximized = (w.style & WS_MAXIMIZE) != 0;
  info.title = w.title;
  info.className = w.className;
  info.style = w.style;
  info.exStyle = w.exStyle;
  Point o = clientOriginLocked(hwnd);
  info.windowRect = Rect::fromSize(o.x, o.y, w.rect.width(), w.rect.height());
  // This process's windows draw no frame of their own.
  info.frameBounds = info.windowRect;
  info.clientRect = info.windowRect;
  return info;
}

std::vector<HWND> WindowSystem::children(HWND hwnd) {
  if (hwnd == kDesktopWindow) return backend_->topLevelWindows();
  if (isForeignHandle(hwnd)) return backend_->childWindows(hwnd);
  std::lock_guard lock(mutex_);
  return tree_.children(hwnd);
}

std::vector<HWND> WindowSystem::ownTopLevels() {
  std::lock_guard lock(mutex_);
  return tree_.topLevels();
}

SurfaceDesc WindowSystem::describeLocked(const WindowData& w) const {
  SurfaceDesc d;
  d.hwnd = w.hwnd;
  d.parent = tree_.parent(w.hwnd);
  d.owner = tree_.owner(w.hwnd);
  d.rect = w.rect;
  d.style = w.style;
  d.exStyle = w.exStyle;
  d.title = w.title;
  d.className = w.className;
  return d;
}

void WindowSystem::syncSurface(HWND hwnd) {
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    desc = describeLocked(*it->second);
  }
  backend_->surfaceChanged(desc);
}

// ---------------------------------------------------------------- messages

LRESULT WindowSystem::dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* object = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return 0;
    object = it->second->object;
  }
  if (!object) return guardedCall([&] { return defaultProc(hwnd, msg, wParam, lParam); });
  ++object->dispatchDepth_;
  LRESULT result = guardedCall([&] { return object->handleMessage(msg, wParam, lParam); });
  if (--object->dispatchDepth_ == 0 && object->finalPending_) {
    // The window went away inside this handler; its final message runs now
    // that the handler is done with the object.
    object->finalPending_ = false;
    object->onFinalMessage(hwnd);
  }
  return result;
}

LRESULT WindowSystem::runSent(const SendRecord& record) {
  return guardedCall([&]() -> LRESULT {
    if (record.task) return record.task();
    return dispatch(record.hwnd, record.msg, record.wParam, record.lParam);
  });
}

void WindowSystem::runPosted(PostedItem& item) {
  // Items of a window destroyed meanwhile are dropped.
  if (!isWindow(item.hwnd)) return;
  if (!item.task) {
    dispatch(item.hwnd, item.msg, item.wParam, item.lParam);
    return;
  }
  guardedCall([&] {
    item.task();
    return LRESULT{0};
  });
}

void WindowSystem::runTimer(HWND hwnd, uint32_t id) { dispatch(hwnd, WM_TIMER, id, 0); }

void WindowSystem::runPaint(HWND hwnd) { paintWindow(hwnd); }

LRESULT WindowSystem::sendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto data = find(hwnd);
  if (!data) return 0;
  if (data->queue.get() == ThreadQueue::currentIfAny()) return dispatch(hwnd, msg, wParam, lParam);
  SendRecord record;
  record.hwnd = hwnd;
  record.msg = msg;
  record.wParam = wParam;
  record.lParam = lParam;
  ThreadQueue::sendAndWait(*data->queue, record, *this);
  return record.result;
}

LRESULT WindowSystem::runOnWindowThread(HWND hwnd, const std::function<LRESULT()>& task) {
  auto data = find(hwnd);
  if (!data) return 0;
  if (data->queue.get() == ThreadQueue::currentIfAny()) return guardedCall(task);
  SendRecord record;
  record.hwnd = hwnd;
  record.task = task;
  ThreadQueue::sendAndWait(*data->queue, record, *this);
  return record.result;
}

bool WindowSystem::sendTask(HWND hwnd, const std::function<void()>& task) {
  if (!task) return false;
  // Set on the window's thread; the wait for the reply orders it before the
  // read below.
  bool ran = false;
  runOnWindowThread(hwnd, [&]() -> LRESULT {
    if (!isWindow(hwnd)) return 0;  // destroyed while the task was on its way
    ran = true;
    task();
    return 0;
  });
  return ran;
}

bool WindowSystem::postMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto data = find(hwnd);
  if (!data) return false;
  return data->queue->pushPosted({hwnd, msg, wParam, lParam, {}});
}

bool WindowSystem::postTask(HWND hwnd, std::function<void()> task) {
  if (!task) return false;
  auto data = find(hwnd);
  if (!data) return false;
  return data->queue->pushPosted({hwnd, 0, 0, 0, std::move(task)});
}

int WindowSystem::runMessageLoop() { return ThreadQueue::current()->run(*this); }

void WindowSystem::postQuit(int code) { ThreadQueue::current()->postQuit(code); }

bool WindowSystem::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return ThreadQueue::current()->pumpUntil(*this, done, timeout);
}

void WindowSystem::pumpPending() { ThreadQueue::current()->pumpPending(*this); }

// ---------------------------------------------------------------- creation

HWND WindowSystem::createWindow(Window* object, HWND parentOrOwner, const Rect& rectIn, std::string_view title,
                                uint32_t style, uint32_t exStyle, const char* className, void* createParam) {
  if (!object || object->hwnd_) return 0;
  if (parentOrOwner == kDesktopWindow) parentOrOwner = 0;
  Rect r = rectIn;
  if (r.left == CW_USEDEFAULT || r.top == CW_USEDEFAULT) {
    r = {};
  } else {
    r.right = r.left + clampExtent(r.width());
    r.bottom = r.top + clampExtent(r.height());
  }
  bool wantVisible = (style & WS_VISIBLE) != 0;
  style &= ~WS_VISIBLE;

  auto data = std::make_shared<WindowData>();
  data->queue = ThreadQueue::current();
  HWND hwnd = 0;
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    HWND parent = 0;
    HWND owner = 0;
    if (parentOrOwner) {
      if (style & WS_CHILD) {
        auto it = windows_.find(parentOrOwner);
        if (it == windows_.end() || it->second->state == WindowData::State::Destroying) return 0;
        parent = parentOrOwner;
      } else if (isForeignHandle(parentOrOwner) || windows_.count(parentOrOwner)) {
        owner = parentOrOwner;
      } else {
        return 0;
      }
    }
    hwnd = gNextHandle.fetch_add(1);
    if (hwnd >= kForeignHandleBit) return 0;
    data->hwnd = hwnd;
    data->object = object;
    data->className = className ? className : "KestrovaWindow";
    data->title = std::string(title);
    data->style = style;
    data->exStyle = exStyle;
    data->classStyle = object->classStyle_;
    data->background = object->classBackground_;
    data->hasBackground = object->hasClassBackground_;
    data->cursor = object->classCursor_;
    data->rect = r;
    data->normalRect = r;
    windows_[hwnd] = data;
    tree_.add(hwnd, parent, owner, false);
    object->hwnd_ = hwnd;
    desc = describeLocked(*data);
  }
  resizeImage(*data, r.width(), r.height());
  backend_->surfaceCreated(desc);

  CREATESTRUCT cs;
  cs.lpCreateParams = createParam;
  cs.hwndParent = desc.parent ? desc.parent : desc.owner;
  cs.x = r.left;
  cs.y = r.top;
  cs.cx = r.width();
  cs.cy = r.height();
  cs.style = style | (wantVisible ? WS_VISIBLE : 0);
  cs.dwExStyle = exStyle;
  cs.lpszName = data->title.c_str();
  cs.lpszClass = data->className.c_str();
  // The strings above are read by the handler only; copy them first since
  // the handler may retitle the window.
  std::string nameCopy = data->title;
  std::string classCopy = data->className;
  cs.lpszName = nameCopy.c_str();
  cs.lpszClass = classCopy.c_str();
  if (dispatch(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    {
      std::lock_guard lock(mutex_);
      data->finalSuppressed = true;
    }
    destroyWindow(hwnd);
    object->hwnd_ = 0;
    return 0;
  }
  {
    std::lock_guard lock(mutex_);
    if (!windows_.count(hwnd)) return 0;
    if (data->state == WindowData::State::Creating) data->state = WindowData::State::Alive;
  }
  dispatch(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r.width(), r.height()));
  dispatch(hwnd, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
  if (wantVisible && isWindow(hwnd)) showWindow(hwnd, SW_SHOW);
  return isWindow(hwnd) ? hwnd : 0;
}

// ---------------------------------------------------------------- destruction

bool WindowSystem::destroyWindow(HWND hwnd) {
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return runOnWindowThread(hwnd, [this, hwnd] { return LRESULT{destroyWindow(hwnd)}; }) != 0;
  }
  std::vector<HWND> owned;
  bool runFinal = true;
  {
    std::lock_guard lock(mutex_);
    if (data->state == WindowData::State::Destroying) return false;
    data->state = WindowData::State::Destroying;
    runFinal = !data->finalSuppressed;
    owned = tree_.ownedBy(hwnd);
  }
  // Owned windows go first, as their owner's life bounds theirs.
  for (HWND h : owned) destroyWindow(h);
  {
    std::lock_guard lock(mutex_);
    setStyleLocked(*data, data->style & ~WS_VISIBLE);
  }
  syncSurface(hwnd);
  // WM_DESTROY to the window first and then its children, which all still
  // exist while their parent handles it.
  dispatch(hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> kids;
  {
    std::lock_guard lock(mutex_);
    kids = tree_.children(hwnd);
  }
  for (HWND child : kids) sendDestroyMessages(child);
  destroyTree(hwnd, runFinal);
  return true;
}

void WindowSystem::sendDestroyMessages(HWND hwnd) {
  auto data = find(hwnd);
  if (!data) return;
  {
    std::lock_guard lock(mutex_);
    if (data->state == WindowData::State::Destroying) return;
    data->state = WindowData::State::Destroying;
  }
  sendMessage(hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> kids;
  {
    std::lock_guard lock(mutex_);
    kids = tree_.children(hwnd);
  }
  for (HWND child : kids) sendDestroyMessages(child);
}

void WindowSystem::destroyTree(HWND hwnd, bool runFinal) {
  std::vector<HWND> kids;
  {
    std::lock_guard lock(mutex_);
    if (!windows_.count(hwnd)) return;
    kids = tree_.children(hwnd);
  }
  for (HWND child : kids) destroyTree(child, true);
  auto data = find(hwnd);
  if (!data) return;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    runOnWindowThread(hwnd, [this, hwnd, runFinal] {
      finishWindow(hwnd, runFinal);
      return LRESULT{0};
    });
  } else {
    finishWindow(hwnd, runFinal);
  }
}

void WindowSystem::finishWindow(HWND hwnd, bool runFinal) {
  dispatch(hwnd, WM_NCDESTROY, 0, 0);
  std::shared_ptr<WindowData> data;
  Window* object = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    data = it->second;
    windows_.erase(it);
    tree_.remove(hwnd);
    object = data->object;
    data->object = nullptr;
  }
  input_.forgetWindow(hwnd);
  data->queue->forgetWindow(hwnd);
  backend_->surfaceDestroyed(hwnd);
  if (!object) return;
  object->hwnd_ = 0;
  if (!runFinal || data->finalSuppressed) return;
  if (object->dispatchDepth_ > 0) {
    object->finalPending_ = true;
  } else {
    object->onFinalMessage(hwnd);
  }
}

// ---------------------------------------------------------------- timers

uint32_t WindowSystem::setTimer(HWND hwnd, uint32_t id, uint32_t ms) {
  if (id == 0) return 0;
  auto data = find(hwnd);
  if (!data) return 0;
  data->queue->setTimer(hwnd, id, std::chrono::milliseconds(std::max(ms, kMinTimerMs)));
  return id;
}

bool WindowSystem::killTimer(HWND hwnd, uint32_t id) {
  auto data = find(hwnd);
  if (!data) return false;
  return data->queue->killTimer(hwnd, id);
}

// ---------------------------------------------------------------- input

HWND WindowSystem::hitTest(HWND top, Point screen) {
  std::lock_guard lock(mutex_);
  if (!windows_.count(top)) return 0;
  HWND current = top;
  Point origin = clientOriginLocked(top);
  for (;;) {
    bool descended = false;
    for (HWND child : tree_.children(current)) {
      auto c = windows_.find(child);
      if (c == windows_.end()) continue;
      const WindowData& cd = *c->second;
      if (!(cd.style & WS_VISIBLE) || (cd.style & WS_DISABLED)) continue;
      Rect r = cd.rect.offset(origin.x, origin.y);
      if (r.contains(screen)) {
        current = child;
        origin = {r.left, r.top};
        descended = true;
        break;
      }
    }
    if (!descended) return current;
  }
}

uint32_t WindowSystem::classStyle(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? 0 : it->second->classStyle;
}

}  // namespace ui
