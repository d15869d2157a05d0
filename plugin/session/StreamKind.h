#pragma once
// Stream codes as each side names them. The page numbers a channel's streams
// 1 main, 2 sub, 3 third; the device, the cells and the live streams use 1, 4
// and 5; the cell's context menu carries its own command ids. Every mapping
// between the three lives here, so that no other file compares bare numbers.
#include <cstdint>

namespace ksplugs {

class StreamKind {
 public:
  // The device's codes, which the cells and live streams use too.
  static constexpr int kDeviceMain = 1;
  static constexpr int kDeviceSub = 4;
  static constexpr int kDeviceThird = 5;
  // The page's codes.
  static constexpr int kPageMain = 1;
  static constexpr int kPageSub = 2;
  static constexpr int kPageThird = 3;
  // Command ids of the stream items of a cell's context menu.
  static constexpr uint32_t kMenuMain = 0x8015;
  static constexpr uint32_t kMenuSub = 0x8016;
  static constexpr uint32_t kMenuThird = 0x8017;

  // Page code to the device's: 2 -> 4, 3 -> 5, anything else the main stream.
  static int deviceFromPage(int64_t pageStream);
  // Device code to the page's: 4 -> 2, 5 -> 3; 1 and unknown codes unchanged.
  static int32_t pageFromDevice(int32_t deviceStream);
  // The device code of a menu command; 0 for a command that is no stream.
  static int deviceFromMenu(uint32_t menuId);
  // The menu command of a device code; 0 for an unknown code.
  static uint32_t menuFromDevice(int deviceStream);
};

}  // namespace ksplugs
