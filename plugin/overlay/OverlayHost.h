#pragma once
// The editing layer of a settings cell: one editor per block type (on-screen
// text, privacy masks, crossing line, passenger counting, face areas,
// polygon regions), created on first use and kept until the host goes, of
// which one at a time is shown and takes the mouse. The page's records
// reach it through apply and read back; the cell feeds it paint, mouse,
// size and picture-size events.
//
// Threads: apply, read back, mouse and size events on the settings cell's
// window thread; paint on the stream's drawing thread. `mutex_` guards the
// host's own fields and the editor slots; it is never held while an editor
// runs, and an editor, once created, lives as long as the host.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/ui/Backend.h"
#include "plugin/api/ksplugs.h"
#include "plugin/overlay/OverlayEditor.h"

typedef struct _cairo cairo_t;

namespace ksplugs {

class OverlayHost {
 public:
  OverlayHost();
  ~OverlayHost();
  OverlayHost(const OverlayHost&) = delete;
  OverlayHost& operator=(const OverlayHost&) = delete;

  // Shows the editor of the record's type (hiding every other one) and feeds
  // it the record; type 0 hides them all. 1002 when an editor cannot be
  // made, 1006 for a type whose editor this build does not have. When the
  // apply dropped what the pointer hovered, *cursor (when given) gets the
  // arrow to show instead.
  int apply(const DeviceSettingsParam& record, std::optional<ui::CursorShape>* cursor = nullptr);
  // Fills the record's result area from the editor of its type; 1009 when
  // that editor was never made.
  int readBack(DeviceSettingsParam& record);

  // Routed to the shown editor; 1009 (or nothing) when there is none.
  int paint(cairo_t* cr);
  std::optional<ui::CursorShape> mouseDown(int x, int y);
  std::optional<ui::CursorShape> mouseMove(int x, int y);
  std::optional<ui::CursorShape> mouseUp(int x, int y);
  // Stores the cell's size and passes it to the shown editor only.
  int resize(int width, int height);
  // Stores the picture size and passes it to the face editor when shown.
  int setVideoSize(int width, int height);

  int activeType() const;

 private:
  static constexpr int kEditorCount = 6;
  // Slot of a block type (1, 3, ..., 11), or -1.
  static int slotOf(int type);
  static std::unique_ptr<OverlayEditor> makeEditor(int type, int cellWidth, int cellHeight);
  OverlayEditor* shownEditor() const;

  mutable std::mutex mutex_;
  int cellWidth_ = 0;    // guarded by mutex_
  int cellHeight_ = 0;   // guarded by mutex_
  int videoWidth_ = 0;   // guarded by mutex_
  int videoHeight_ = 0;  // guarded by mutex_
  int activeType_ = 0;   // guarded by mutex_
  // Slots guarded by mutex_; each editor guards itself.
  std::array<std::unique_ptr<OverlayEditor>, kEditorCount> editors_;
};

}  // namespace ksplugs
