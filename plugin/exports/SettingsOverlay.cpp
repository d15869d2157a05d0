#include "plugin/exports/SettingsOverlay.h"

#include <cairo.h>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/WindowApi.h"

namespace ksplugs {

int SettingsOverlay::apply(const DeviceSettingsParam& record) {
  std::optional<ui::CursorShape> cursor;
  const int result = host_.apply(record, &cursor);
  setCursor(cursor);
  return result;
}

void SettingsOverlay::paint(ui::DeviceContext& dc) {
  cairo_t* cr = dc.cairo();
  if (cr == nullptr) return;
  // The editors draw in cell pixels with their own pens; nothing of their
  // state reaches the cell's later drawing.
  cairo_save(cr);
  host_.paint(cr);
  cairo_restore(cr);
}

void SettingsOverlay::setCursor(std::optional<ui::CursorShape> shape) {
  if (shape) ui::setCursor(*shape);
}

}  // namespace ksplugs
