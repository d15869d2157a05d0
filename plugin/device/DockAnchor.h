#pragma once
// Where a dock sits over the browser: the page's window (found from its title
// text and its process) and the dock's offset inside the page area. Written
// and read by dock creation and by the supervision pass that keeps the dock
// glued to the browser.
#include <cstdint>
#include <string>

namespace ksplugs {

struct DockAnchor {
  std::u16string title;         // text that the browser window's title contains
  std::u16string processImage;  // the browser process's image name
  bool adjustPosition = false;
  int32_t offsetX = 0;          // of the dock inside the browser's page area
  int32_t offsetY = 0;
  uint32_t browserWindow = 0;   // 0 while not found
};

}  // namespace ksplugs
