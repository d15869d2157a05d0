#pragma once
// On-screen text as the device paints it: the record's first text line
// rendered into a one-bit dot-matrix lattice, handed back in base64. No
// editor and no device take part; the call may come from any thread.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "plugin/api/ksplugs.h"

namespace ksplugs {

struct OsdLattice {
  // The buffer the base64 text comes back in, zero-filled behind the text.
  static constexpr size_t kBufferBytes = size_t{1} << 20;
  // Font cell heights in pixels; 0 asks for the default.
  static constexpr int32_t kDefaultFontHeight = 16;
  static constexpr int32_t kMaxFontHeight = 512;
  // Longest first line in bytes; the rasteriser takes 65,536 UTF-16 units.
  static constexpr size_t kMaxTextBytes = 4 * 65536;

  // Renders text[0] of the OSD block at the font cell height `datetimeY`
  // (bold, italic, underline and strike-out from the record; '^' breaks the
  // line). On success `outBase64` is a kBufferBytes malloc block the caller
  // frees, `outWidth`/`outHeight` the lattice's size in dots and `outLength`
  // its size in bytes before encoding. 1000 without a text line, 1013 for an
  // empty text, a font height outside 0..512 or a lattice the rasteriser
  // refuses, 1002 without memory; on failure the result area is untouched
  // and nothing stays allocated.
  static int render(DeviceSettingsParam& record, void* (*allocate)(size_t count, size_t size) = std::calloc);
};

}  // namespace ksplugs
