#pragma once
// The private font set of the lattice renderer: a fontconfig configuration
// that holds only DejaVu Sans (regular and bold), so neither /etc/fonts nor
// the user's configuration changes a lattice, and a Pango font map on it.

#include <pango/pango.h>

namespace devlinktext {

class LatticeFonts {
public:
  // The two faces the set loads.
  static constexpr const char* kRegularFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  static constexpr const char* kBoldFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
  static constexpr const char* kFamily = "DejaVu Sans";

  // The process-wide set, built on first use; null when the fonts cannot be
  // loaded (a later call tries again). The caller holds the library's lock
  // (DevLinkText.cpp) for this call and for every use of the font map.
  static LatticeFonts* get();

  PangoFontMap* fontMap() const { return fontMap_; }

  LatticeFonts(const LatticeFonts&) = delete;
  LatticeFonts& operator=(const LatticeFonts&) = delete;

private:
  explicit LatticeFonts(PangoFontMap* fontMap) : fontMap_(fontMap) {}
  ~LatticeFonts() = default;  // kept for the life of the process

  PangoFontMap* fontMap_;  // owned; immutable after construction
};

}  // namespace devlinktext
