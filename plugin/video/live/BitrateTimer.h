#pragma once
// The once-a-second refresh of a cell's bitrate label, and the label's text
// "[<width>x<height>, <kbps> Kbps]" for the stream the cell shows.
#include <cstdint>
#include <string>

#include "platform/ui/Types.h"

namespace ksplugs {

class BitrateTimer {
 public:
  static constexpr uint32_t kId = 10000;
  static constexpr uint32_t kIntervalMs = 1000;
  // The label holds at most this many UTF-16 units with its terminator.
  static constexpr size_t kLabelUnits = 260;

  static void start(ui::HWND cell);
  static void stop(ui::HWND cell);

  // The page's kbps value for a device stream code (1 main, 4 sub, 5 third);
  // 0 for any other code.
  static int kbpsFor(int streamType, int kbpsMain, int kbpsSub, int kbpsThird);
  static std::u16string labelText(int width, int height, int kbps);
};

}  // namespace ksplugs
