#include "platform/devlinktext/LatticeFonts.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <initializer_list>

namespace devlinktext {

namespace {

// Built once; guarded by the library's lock in DevLinkText.cpp.
LatticeFonts* g_fonts = nullptr;

// An FcConfig with exactly the two DejaVu Sans files and no rules, or null.
FcConfig* makePrivateConfig() {
  FcConfig* config = FcConfigCreate();
  if (!config) {
    return nullptr;
  }
  for (const char* file : {LatticeFonts::kRegularFile, LatticeFonts::kBoldFile}) {
    if (!FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(file))) {
      FcConfigDestroy(config);
      return nullptr;
    }
  }
  return config;
}

}  // namespace

LatticeFonts* LatticeFonts::get() {
  if (g_fonts) {
    return g_fonts;
  }
  FcConfig* config = makePrivateConfig();
  if (!config) {
    return nullptr;
  }
  PangoFontMap* map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
  if (!map || !PANGO_IS_FC_FONT_MAP(map)) {
    if (map) {
      g_object_unref(map);
    }
    FcConfigDestroy(config);
    return nullptr;
  }
  // The font map takes its own reference on the configuration.
  pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(map), config);
  FcConfigDestroy(config);
  g_fonts = new LatticeFonts(map);
  return g_fonts;
}

}  // namespace devlinktext
