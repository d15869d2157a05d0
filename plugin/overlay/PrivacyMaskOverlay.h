#pragma once
// The privacy mask editor: the device's cover rectangles drawn as filled
// boxes over the picture. The page replaces or deletes them; the user moves
// or resizes one with the rectangle handles and draws new ones by dragging
// on empty picture, up to four (more may come from the page and stay).
// Rectangles cross the record in the OSD grid and are kept in cell pixels.
//
// Threads: as for every editor, `mutex_` of the base guards all state below,
// and paint holds it while it draws.
#include <cstdint>
#include <optional>
#include <vector>

#include "plugin/overlay/OverlayEditor.h"
#include "plugin/overlay/RectShape.h"

namespace ksplugs {

class PrivacyMaskOverlay : public OverlayEditor {
 public:
  // At most this many rectangles are drawn by mouse.
  static constexpr size_t kMouseLimit = 4;
  // More than this many from the page are refused (1000).
  static constexpr uint32_t kMaxRects = 4096;

  PrivacyMaskOverlay(int cellWidth, int cellHeight);

  // 1 replaces all rectangles, 2 deletes the selected one, 3 deletes all.
  int apply(const DeviceSettingsParam& record) override;
  int readBack(DeviceSettingsParam& record) override;
  void paint(cairo_t* cr) override;
  std::optional<ui::CursorShape> mouseDown(int x, int y) override;
  std::optional<ui::CursorShape> mouseMove(int x, int y) override;
  std::optional<ui::CursorShape> mouseUp(int x, int y) override;

  // The page's 0x00BBGGRR (red in the low byte) as ARGB 0xAARRGGBB, fully
  // opaque; the page's "FF0000" therefore paints blue.
  static uint32_t argbOf(uint32_t fillColor);

 private:
  struct Mask {
    // 0, or the handle code a drag with the button held uses.
    int selected = 0;
    RectShape rect;
  };

  int replaceAll(const PrivacyBlock& block);
  void deleteSelected();
  // Forgets the handle under the pointer after the list changed; the next
  // move answers the cursor again.
  void resetHover();

  // All guarded by mutex_.
  std::vector<Mask> masks_;
  std::optional<uint32_t> fillArgb_;  // set by the first replace-all, changed by every later one
  int downX_ = 0;
  int downY_ = 0;
  int curX_ = 0;
  int curY_ = 0;
  bool rubberBand_ = false;   // the button is held
  int hoverCode_ = 0;         // handle code under the pointer
  int hoverRect_ = -1;        // index into masks_, or -1
  bool cursorStale_ = false;  // the next move answers the cursor even when the code is unchanged
};

}  // namespace ksplugs
