#pragma once
// One settings editor of the overlay host: it keeps the shapes of one block
// type in cell pixels, takes the page's records (apply, read back), draws
// over each picture of the settings cell and edits its shapes with the mouse.
//
// Threads: apply, read back, the mouse and size events run on the settings
// cell's window thread; paint runs on the stream's drawing thread. `mutex_`
// guards every field of an editor, the derived class's included, paint too.
// An editor never makes a window call while it holds it: the mouse handlers
// answer the cursor to show and the caller sets it after the call. No two
// editors' locks are ever held together.
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/ui/Backend.h"
#include "plugin/api/ksplugs.h"

typedef struct _cairo cairo_t;

namespace ksplugs {

class OverlayEditor {
 public:
  virtual ~OverlayEditor() = default;
  OverlayEditor(const OverlayEditor&) = delete;
  OverlayEditor& operator=(const OverlayEditor&) = delete;

  // The record's sub-type acted on; a result code.
  virtual int apply(const DeviceSettingsParam& record) = 0;
  // Fills the record's result area; arrays are malloc blocks the caller frees.
  virtual int readBack(DeviceSettingsParam& record) = 0;
  // Draws the shapes when the editor is active.
  virtual void paint(cairo_t* cr) = 0;
  // Cell pixels; each answers the cursor to set, or nothing to keep it.
  virtual std::optional<ui::CursorShape> mouseDown(int x, int y) = 0;
  virtual std::optional<ui::CursorShape> mouseMove(int x, int y) = 0;
  virtual std::optional<ui::CursorShape> mouseUp(int x, int y) = 0;

  // Hiding keeps the shapes; only the editor's own apply shows it again.
  void setActive(bool active) {
    std::lock_guard lock(mutex_);
    active_ = active;
  }
  bool active() const {
    std::lock_guard lock(mutex_);
    return active_;
  }
  // Later applies and read backs use the new size; shapes are not rescaled.
  virtual void resize(int width, int height) {
    std::lock_guard lock(mutex_);
    cellWidth_ = width;
    cellHeight_ = height;
  }
  // Whether an apply since the last call dropped the hover state, so the
  // cursor it showed must go back to the arrow.
  bool takeCursorReset() {
    std::lock_guard lock(mutex_);
    const bool reset = cursorReset_;
    cursorReset_ = false;
    return reset;
  }
  // The stream's picture size; only the face editor uses it.
  virtual void setVideoSize(int, int) {}

 protected:
  OverlayEditor(int cellWidth, int cellHeight) : cellWidth_(cellWidth), cellHeight_(cellHeight) {}

  mutable std::mutex mutex_;
  bool active_ = false;       // guarded by mutex_
  int cellWidth_ = 0;         // guarded by mutex_
  int cellHeight_ = 0;        // guarded by mutex_
  bool cursorReset_ = false;  // guarded by mutex_
};

}  // namespace ksplugs
