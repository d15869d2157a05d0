#pragma once
// The settings cell's overlay: the overlay host of the settings editors
// behind the cell's overlay interface. It draws on the cell's device
// context and sets the cursor the editors ask for.
//
// Threads: as the interface says; the host guards itself.
#include "plugin/overlay/OverlayHost.h"
#include "plugin/video/CellOverlay.h"

namespace ksplugs {

class SettingsOverlay : public CellOverlay {
 public:
  int apply(const DeviceSettingsParam& record) override;
  int readBack(DeviceSettingsParam& record) override { return host_.readBack(record); }
  void paint(ui::DeviceContext& dc) override;
  void mouseDown(int x, int y) override { setCursor(host_.mouseDown(x, y)); }
  void mouseMove(int x, int y) override { setCursor(host_.mouseMove(x, y)); }
  void mouseUp(int x, int y) override { setCursor(host_.mouseUp(x, y)); }
  void resize(int width, int height) override { host_.resize(width, height); }
  void setVideoSize(int width, int height) override { host_.setVideoSize(width, height); }

  OverlayHost& host() { return host_; }

 private:
  static void setCursor(std::optional<ui::CursorShape> shape);

  OverlayHost host_;
};

}  // namespace ksplugs
