// The C entry of the lattice renderer: checks the arguments, splits the text
// into lines and runs LatticeRenderer on the private font set.

#include "platform/devlinktext/DevLinkText.h"

#include "platform/devlinktext/LatticeFonts.h"
#include "platform/devlinktext/LatticeRenderer.h"
#include "platform/sys/Utf.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Fontconfig and Pango keep process-wide state (the font map, its caches and
// the configuration), and a font map is not safe to share between threads:
// this one lock covers every call from start to end, including the lazy
// construction of the private font set.
std::mutex g_latticeLock;

// The UTF-16 text split at line feeds, each line in UTF-8. Unpaired
// surrogates come out as U+FFFD.
std::vector<std::string> splitLines(std::u16string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(u'\n', start);
    std::u16string_view line = text.substr(start, end == std::u16string_view::npos ? text.npos : end - start);
    if (!line.empty() && line.back() == u'\r') {
      line.remove_suffix(1);
    }
    lines.push_back(sys::utf16ToUtf8(line));
    if (end == std::u16string_view::npos) {
      break;
    }
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int DevLinkText_WStringToLattice(const char16_t* text, const DevLinkTextLogFont* font,
                                            unsigned char* buffer, uint32_t* length,
                                            int32_t* width, int32_t* height) {
  using devlinktext::LatticeRenderer;
  if (!text || !font || !buffer || !length || !width || !height) {
    return DEVLINKTEXT_E_ARGUMENT;
  }
  // The font height's sign only says how Windows measures it; INT32_MIN has
  // no magnitude and is refused with the other out-of-range heights.
  const int32_t fontHeight = font->lfHeight;
  if (fontHeight < -DEVLINKTEXT_MAX_FONT_HEIGHT || fontHeight > DEVLINKTEXT_MAX_FONT_HEIGHT) {
    return DEVLINKTEXT_E_ARGUMENT;
  }
  devlinktext::LatticeStyle style;
  style.bandHeight = fontHeight == 0 ? 16 : std::abs(fontHeight);
  style.bold = font->lfWeight >= 600;
  style.italic = font->lfItalic != 0;

  const size_t units = sys::utf16Length(text, DEVLINKTEXT_MAX_TEXT_UNITS + 1);
  if (units == 0) {
    return DEVLINKTEXT_E_EMPTY_TEXT;
  }
  if (units > DEVLINKTEXT_MAX_TEXT_UNITS) {
    return DEVLINKTEXT_E_TOO_LARGE;
  }
  const size_t capacity = *length;
  const size_t limit = capacity < DEVLINKTEXT_MAX_LATTICE_BYTES ? capacity : DEVLINKTEXT_MAX_LATTICE_BYTES;

  std::lock_guard<std::mutex> lock(g_latticeLock);
  devlinktext::LatticeFonts* fonts = devlinktext::LatticeFonts::get();
  if (!fonts) {
    return DEVLINKTEXT_E_FONT_UNAVAILABLE;
  }
  const std::vector<std::string> lines = splitLines(std::u16string_view(text, units));
  LatticeRenderer renderer(fonts->fontMap(), style);
  switch (renderer.measure(lines, limit)) {
    case LatticeRenderer::Result::Ok:
      break;
    case LatticeRenderer::Result::TooLarge:
      return DEVLINKTEXT_E_TOO_LARGE;
    case LatticeRenderer::Result::Render:
      return DEVLINKTEXT_E_RENDER;
  }
  std::vector<uint8_t> lattice;
  if (renderer.render(lattice) != LatticeRenderer::Result::Ok || lattice.size() != renderer.bytes() ||
      lattice.size() > limit) {
    return DEVLINKTEXT_E_RENDER;
  }
  std::memcpy(buffer, lattice.data(), lattice.size());
  *length = uint32_t(lattice.size());
  *width = renderer.width();
  *height = renderer.rows();
  return DEVLINKTEXT_OK;
}
