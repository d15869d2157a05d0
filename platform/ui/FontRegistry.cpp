#include "platform/ui/FontRegistry.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace ui {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool isGenericFamily(const std::string& lowered) {
  return lowered == "sans-serif" || lowered == "sans" || lowered == "serif" || lowered == "monospace";
}

}  // namespace

FontRegistry& FontRegistry::instance() {
  static FontRegistry registry;
  return registry;
}

std::string FontRegistry::resolveFamily(const std::string& family) {
  std::string key = lower(family);
  if (key.empty()) return "sans-serif";
  if (isGenericFamily(key)) return key;
  {
    std::lock_guard lock(mutex_);
    auto it = resolvedFamilies_.find(key);
    if (it != resolvedFamilies_.end()) return it->second;
  }
  std::string resolved = "sans-serif";
  PangoFontMap* map = pango_cairo_font_map_get_default();
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(map, &families, &count);
  for (int i = 0; i < count; ++i) {
    const char* name = pango_font_family_get_name(families[i]);
    if (name && lower(name) == key) {
      resolved = name;
      break;
    }
  }
  g_free(families);
  std::lock_guard lock(mutex_);
  resolvedFamilies_[key] = resolved;
  return resolved;
}

HFONT FontRegistry::create(const FontSpec& spec) {
  Entry entry{spec, resolveFamily(spec.family)};
  entry.spec.pixelHeight = std::clamp(std::abs(spec.pixelHeight), 1, 2000);
  entry.spec.weight = std::clamp(spec.weight == 0 ? 400 : spec.weight, 100, 1000);
  std::lock_guard lock(mutex_);
  HFONT handle = next_++;
  fonts_[handle] = std::move(entry);
  return handle;
}

bool FontRegistry::destroy(HFONT font) {
  std::lock_guard lock(mutex_);
  return fonts_.erase(font) > 0;
}

bool FontRegistry::describe(HFONT font, FontSpec& spec, std::string& resolvedFamily) {
  {
    std::lock_guard lock(mutex_);
    auto it = fonts_.find(font);
    if (it != fonts_.end()) {
      spec = it->second.spec;
      resolvedFamily = it->second.resolved;
      return true;
    }
  }
  spec = FontSpec{};
  spec.family = "sans-serif";
  resolvedFamily = "sans-serif";
  return font == 0;
}

PangoFontDescription* FontRegistry::newPangoDescription(HFONT font) {
  FontSpec spec;
  std::string family;
  describe(font, spec, family);
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, family.c_str());
  pango_font_description_set_absolute_size(desc, static_cast<double>(spec.pixelHeight) * PANGO_SCALE);
  pango_font_description_set_weight(desc, static_cast<PangoWeight>(spec.weight));
  pango_font_description_set_style(desc, spec.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  return desc;
}

void releaseThreadFontMap() {
  // Drops this thread's Pango font map, and with it the fontconfig patterns
  // it caches; the next text use makes a fresh one.
  pango_cairo_font_map_set_default(nullptr);
}

HFONT createFont(const FontSpec& spec) { return FontRegistry::instance().create(spec); }

HFONT createFont(std::string_view family, int pixelHeight, int weight, bool italic, bool underline,
                 bool strikeOut) {
  FontSpec spec;
  spec.family = std::string(family);
  spec.pixelHeight = pixelHeight;
  spec.weight = weight;
  spec.italic = italic;
  spec.underline = underline;
  spec.strikeOut = strikeOut;
  return createFont(spec);
}

bool deleteFont(HFONT font) { return FontRegistry::instance().destroy(font); }

}  // namespace ui
