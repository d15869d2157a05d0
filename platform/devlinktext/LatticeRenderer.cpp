#include "platform/devlinktext/LatticeRenderer.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace devlinktext {

namespace {

struct LayoutUnref {
  void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutUnref>;

struct SurfaceDestroy {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDestroy {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// One-bit output wants one-bit glyphs: no antialiasing, outlines fitted
// fully to the pixel grid, advances rounded to whole pixels.
void setBitmapFontOptions(PangoContext* context) {
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
}

}  // namespace

LatticeRenderer::LatticeRenderer(PangoFontMap* fontMap, LatticeStyle style) : style_(style) {
  context_ = pango_font_map_create_context(fontMap);
  font_ = pango_font_description_new();
  if (!context_ || !font_) {
    return;
  }
  setBitmapFontOptions(context_);
  pango_context_set_base_dir(context_, PANGO_DIRECTION_LTR);
  pango_font_description_set_family(font_, "DejaVu Sans");
  pango_font_description_set_weight(font_, style_.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  // The slant is our own shear (render()), not an oblique face.
  pango_font_description_set_style(font_, PANGO_STYLE_NORMAL);

  // The band holds the font's whole line (ascent + descent): at an em of
  // bandHeight pixels DejaVu Sans's line is taller, so the em shrinks to fit.
  const double band = style_.bandHeight;
  pango_font_description_set_absolute_size(font_, band * PANGO_SCALE);
  if (PangoFontMetrics* metrics = pango_context_get_metrics(context_, font_, nullptr)) {
    const double line = double(pango_font_metrics_get_ascent(metrics)) +
                        double(pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    if (line > band * PANGO_SCALE) {
      // line is in Pango units: the em in pixels is band * band / (line / PANGO_SCALE).
      pango_font_description_set_absolute_size(font_, band * band * PANGO_SCALE * PANGO_SCALE / line);
    }
  }
  if (style_.italic) {
    slantPixels_ = int(std::ceil(kShear * band));
  }
}

LatticeRenderer::~LatticeRenderer() {
  if (font_) {
    pango_font_description_free(font_);
  }
  if (context_) {
    g_object_unref(context_);
  }
}

PangoLayout* LatticeRenderer::makeLayout(const std::string& line) {
  PangoLayout* layout = pango_layout_new(context_);
  if (!layout) {
    return nullptr;
  }
  pango_layout_set_font_description(layout, font_);
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  pango_layout_set_text(layout, line.data(), int(line.size()));
  return layout;
}

LatticeRenderer::Result LatticeRenderer::measure(const std::vector<std::string>& lines,
                                                 size_t limit) {
  if (!context_ || !font_) {
    return Result::Render;
  }
  const size_t band = size_t(style_.bandHeight);
  // Every row takes at least one byte: reject before laying anything out.
  if (lines.empty() || lines.size() > limit / band) {
    return Result::TooLarge;
  }
  int widest = 1;
  for (const std::string& line : lines) {
    LayoutPtr layout(makeLayout(line));
    if (!layout) {
      return Result::Render;
    }
    PangoRectangle ink{};
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
    // The line's advance, widened to cover ink that overhangs either end.
    const long left = std::min(0L, long(ink.x));
    const long right = std::max(long(logical.x) + logical.width,
                                ink.width > 0 ? long(ink.x) + ink.width : 0L);
    const long lineWidth = right - left + slantPixels_;
    if (lineWidth > kMaxWidth) {
      return Result::TooLarge;
    }
    widest = std::max(widest, int(lineWidth));
  }
  const size_t rowBytes = (size_t(widest) + 7) / 8;
  const size_t rows = lines.size() * band;
  if (rows > limit / rowBytes) {
    return Result::TooLarge;
  }
  lines_ = &lines;
  width_ = widest;
  rows_ = int(rows);
  bytes_ = rowBytes * rows;
  return Result::Ok;
}

LatticeRenderer::Result LatticeRenderer::render(std::vector<uint8_t>& out) {
  if (!lines_) {
    return Result::Render;
  }
  const int band = style_.bandHeight;
  const size_t rowBytes = (size_t(width_) + 7) / 8;
  out.assign(bytes_, 0);
  size_t firstRow = 0;
  for (const std::string& line : *lines_) {
    std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface(
        cairo_image_surface_create(CAIRO_FORMAT_A8, width_, band));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      return Result::Render;
    }
    std::unique_ptr<cairo_t, CairoDestroy> cr(cairo_create(surface.get()));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
      return Result::Render;
    }
    if (style_.italic) {
      // x' = x + kShear * (band - y): the band's bottom row stays put and
      // each row above moves right, so nothing leaves the left edge.
      cairo_matrix_t shear;
      cairo_matrix_init(&shear, 1, 0, -kShear, 1, kShear * band, 0);
      cairo_set_matrix(cr.get(), &shear);
    }
    pango_cairo_update_context(cr.get(), context_);
    LayoutPtr layout(makeLayout(line));
    if (!layout) {
      return Result::Render;
    }
    PangoRectangle ink{};
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
    const int left = std::min(0, ink.x);
    const int top = std::max(0, (band - logical.height) / 2);
    cairo_move_to(cr.get(), -left, top);
    pango_cairo_show_layout(cr.get(), layout.get());
    cairo_surface_flush(surface.get());
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
      return Result::Render;
    }
    const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    if (!pixels || stride < width_) {
      return Result::Render;
    }
    for (int y = 0; y < band; ++y) {
      const unsigned char* src = pixels + size_t(y) * size_t(stride);
      uint8_t* dst = out.data() + (firstRow + size_t(y)) * rowBytes;
      for (int x = 0; x < width_; ++x) {
        if (src[x] >= 128) {
          dst[x >> 3] |= uint8_t(0x80u >> (x & 7));
        }
      }
    }
    firstRow += size_t(band);
  }
  return Result::Ok;
}

}  // namespace devlinktext
