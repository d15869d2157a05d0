#pragma once
// Fonts: handles for Pango font descriptions, shared by every thread.
// A family that fontconfig does not know ("Segoe UI", "Microsoft Sans Serif"
// on a Linux desktop) falls back to "sans-serif".
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/ui/Types.h"

typedef struct _PangoFontDescription PangoFontDescription;

namespace ui {

struct FontSpec {
  std::string family = "Segoe UI";
  int pixelHeight = 12;  // character (em) height in pixels; a negative value counts the same
  int weight = 400;      // 400 regular, 700 bold
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
};

class FontRegistry {
 public:
  static FontRegistry& instance();

  HFONT create(const FontSpec& spec);
  bool destroy(HFONT font);
  // Copies the font's description out (the default font for 0 or an unknown
  // handle); false for an unknown non-zero handle.
  bool describe(HFONT font, FontSpec& spec, std::string& resolvedFamily);
  // A new Pango description (caller frees it with pango_font_description_free).
  PangoFontDescription* newPangoDescription(HFONT font);
  // The installed family for a requested one, or "sans-serif".
  std::string resolveFamily(const std::string& family);

 private:
  struct Entry {
    FontSpec spec;
    std::string resolved;
  };
  std::mutex mutex_;
  // Guarded by mutex_.
  std::map<HFONT, Entry> fonts_;
  std::map<std::string, std::string> resolvedFamilies_;
  HFONT next_ = 0x100;
};

HFONT createFont(const FontSpec& spec);
HFONT createFont(std::string_view family, int pixelHeight, int weight = 400, bool italic = false,
                 bool underline = false, bool strikeOut = false);
bool deleteFont(HFONT font);
// Releases the calling thread's font map (Pango keeps one per thread).
void releaseThreadFontMap();

// The size of a single line of text in the font.
Size measureText(HFONT font, std::string_view utf8);

}  // namespace ui
