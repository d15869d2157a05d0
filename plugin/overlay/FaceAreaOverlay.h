#pragma once
// The face recognition editor: three rectangles over the picture, the
// detection area (red), the smallest face box (blue) and the largest face box
// (green), which the user moves and resizes with the rectangle handles. The
// sizes are bounded by limits given per ten thousand of the stream's picture
// size; the rectangles cross the record per ten thousand of the cell.
//
// Threads: as for every editor, `mutex_` of the base guards all state below,
// and paint holds it while it draws.
#include <array>
#include <cstdint>
#include <optional>

#include "plugin/overlay/OverlayEditor.h"
#include "plugin/overlay/RectShape.h"

namespace ksplugs {

class FaceAreaOverlay : public OverlayEditor {
 public:
  enum Index { kDetect = 0, kMinBox = 1, kMaxBox = 2, kCount = 3 };

  FaceAreaOverlay(int cellWidth, int cellHeight);

  // 1 sets all rectangles, defaults and limits; 2, 3, 4 put the detection
  // area, the smallest and the largest box back to their defaults.
  int apply(const DeviceSettingsParam& record) override;
  // The detection area per ten thousand of the cell; of the boxes only their
  // sizes.
  int readBack(DeviceSettingsParam& record) override;
  void paint(cairo_t* cr) override;
  std::optional<ui::CursorShape> mouseDown(int x, int y) override;
  std::optional<ui::CursorShape> mouseMove(int x, int y) override;
  std::optional<ui::CursorShape> mouseUp(int x, int y) override;
  // The picture size; the limits follow it.
  void setVideoSize(int width, int height) override;

  static constexpr uint32_t kPenArgb[kCount] = {0xFFFF0000, 0xFF0000FF, 0xFF00FF00};

 private:
  struct Size {
    double width = 0;
    double height = 0;
  };

  void setAll(const FaceBlock& block);
  RectShape centredBox(double width, double height) const;
  void recomputeLimits();
  // Whether rectangle `index` of the size of `candidate` keeps its limits.
  bool sizeAllowed(int index, const RectShape& candidate) const;
  void resetHover();

  // All guarded by mutex_.
  std::array<RectShape, kCount> rects_{};
  std::array<RectShape, kCount> defaults_{};
  // Per ten thousand of the picture size, from the last set-all.
  std::array<int32_t, kCount> widthQuoto_{};
  std::array<int32_t, kCount> heightQuoto_{};
  // In picture pixels; 0 bounds nothing. 0: largest detection area, 1:
  // smallest minimum box, 2: largest maximum box.
  std::array<Size, kCount> limits_{};
  int videoWidth_ = 0;
  int videoHeight_ = 0;
  bool buttonDown_ = false;
  bool hasLast_ = false;  // lastX_, lastY_ hold a pointer position
  int lastX_ = 0;
  int lastY_ = 0;
  int hoverCode_ = 0;
  int hoverIndex_ = -1;       // which rectangle hoverCode_ belongs to, or -1
  bool cursorStale_ = false;  // the next move answers the cursor even when the code is unchanged
};

}  // namespace ksplugs
