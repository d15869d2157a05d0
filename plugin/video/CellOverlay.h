#pragma once
// The editing layer of the hidden settings cell: it takes the page's
// settings records, draws over every picture the SDK draws into the cell's
// surface and takes the cell's mouse, size and picture-size events. The
// library hands the cells a factory; without one the settings cell has no
// overlay, shows the bare picture and answers settings records with 1006.
//
// Threads: paint runs on the SDK's drawing thread, everything else on the
// cell's UI thread; an overlay guards its own state.
#include <functional>
#include <memory>

#include "plugin/api/ksplugs.h"

namespace ui {
class DeviceContext;
}

namespace ksplugs {

class CellOverlay {
 public:
  virtual ~CellOverlay() = default;

  // A page's record to apply (result codes of the library's settings call).
  virtual int apply(const DeviceSettingsParam& record) = 0;
  // Fills the record's result area; its arrays are malloc blocks.
  virtual int readBack(DeviceSettingsParam& record) = 0;
  virtual void paint(ui::DeviceContext& dc) = 0;
  // Cell client pixels.
  virtual void mouseDown(int x, int y) = 0;
  virtual void mouseMove(int x, int y) = 0;
  virtual void mouseUp(int x, int y) = 0;
  virtual void resize(int width, int height) = 0;
  virtual void setVideoSize(int width, int height) = 0;

  using Factory = std::function<std::unique_ptr<CellOverlay>()>;
};

}  // namespace ksplugs
