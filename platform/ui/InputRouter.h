#pragma once
// Input routing: turns the backend's mouse and key events into messages for
// this process's windows. It keeps the keyboard focus, the mouse capture
// (explicit, or implicit while a button is down), the click history that
// makes a double click, and the global key hooks.
//
// Threads: the backend calls mouseInput and keyInput on its own input
// thread; the other calls come from any thread. Messages reach a window on
// its own thread (posted, or sent for focus changes). mutex_ guards the
// state below it. Lock order: mutex_ may be held while calling into the
// window system's reads, never the other way round; handlers, hooks and the
// backend are called with mutex_ released.
#include <chrono>
#include <functional>
#include <map>
#include <mutex>

#include "platform/ui/Backend.h"
#include "platform/ui/Types.h"

namespace ui {

class WindowSystem;

class InputRouter : public InputSink {
 public:
  // Runs on the thread that delivers key input; answering true swallows the key.
  using KeyHook = std::function<bool(UINT msg, UINT virtualKey)>;

  explicit InputRouter(WindowSystem& windows);

  // InputSink.
  void mouseInput(HWND topLevel, Point screen, MouseAction action) override;
  void keyInput(UINT virtualKey, bool down) override;
  // Posts WM_DPICHANGED (the new value in both words of wParam, no
  // suggested rectangle) to every top-level window of this process.
  void dpiChanged(UINT dpi) override;

  // Answers the previous focus; WM_KILLFOCUS and WM_SETFOCUS are sent.
  HWND setFocus(HWND hwnd);
  HWND focus();
  HWND setCapture(HWND hwnd);
  bool releaseCapture();
  HWND capture();

  int addKeyHook(KeyHook hook);
  bool removeKeyHook(int id);

  // A window going away gives up focus, capture and its click history.
  void forgetWindow(HWND hwnd);
  // A hidden window gives up the mouse it captured.
  void releaseCaptureOf(HWND hwnd);

 private:
  UINT mouseMessageLocked(HWND target, Point screen, MouseAction action, uint32_t classStyle);

  WindowSystem& windows_;

  std::mutex mutex_;
  // Guarded by mutex_.
  HWND focus_ = 0;
  HWND capture_ = 0;
  bool implicitCapture_ = false;  // taken by a pressed button, ends when all are up
  bool leftDown_ = false;
  bool rightDown_ = false;
  HWND lastClickWindow_ = 0;
  Point lastClickPoint_;
  std::chrono::steady_clock::time_point lastClickTime_;
  bool lastWasDoubleClick_ = false;
  std::map<int, KeyHook> keyHooks_;
  int nextHookId_ = 1;
};

}  // namespace ui
