// bench_chart: reads the CURVE lines of benchmark reports and draws them as
// one line chart (x against y, one line per curve name) into a PNG file.
//
// Usage: bench_chart <report text> <png> <title> <x label> <y label>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Curve = std::vector<std::pair<double, double>>;

// CURVE<TAB>name<TAB>x<TAB>y lines; anything else is skipped.
std::map<std::string, Curve> readCurves(const char* path) {
  std::map<std::string, Curve> curves;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("CURVE\t", 0) != 0) continue;
    std::istringstream fields(line.substr(6));
    std::string name, x, y;
    if (!std::getline(fields, name, '\t') || !std::getline(fields, x, '\t') || !std::getline(fields, y, '\t')) continue;
    char* end = nullptr;
    const double xv = std::strtod(x.c_str(), &end);
    if (end == x.c_str()) continue;
    const double yv = std::strtod(y.c_str(), &end);
    if (end == y.c_str() || !std::isfinite(xv) || !std::isfinite(yv)) continue;
    curves[name].emplace_back(xv, yv);
  }
  for (auto& [name, points] : curves) std::sort(points.begin(), points.end());
  return curves;
}

// A round step for about `count` ticks over [0, top].
double tickStep(double top, int count) {
  const double raw = top / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * power >= raw) return m * power;
  return 10.0 * power;
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s <report text> <png> <title> <x label> <y label>\n", argv[0]);
    return 2;
  }
  const auto curves = readCurves(argv[1]);
  if (curves.empty()) {
    std::fprintf(stderr, "bench_chart: no CURVE lines in %s\n", argv[1]);
    return 1;
  }
  double maxX = 0, maxY = 0;
  for (const auto& [name, points] : curves)
    for (const auto& [x, y] : points) {
      maxX = std::max(maxX, x);
      maxY = std::max(maxY, y);
    }
  const double xStep = tickStep(maxX > 0 ? maxX : 1, 6);
  const double yStep = tickStep(maxY > 0 ? maxY * 1.1 : 1, 6);
  const double xTop = std::ceil((maxX > 0 ? maxX : 1) / xStep) * xStep;
  const double yTop = std::ceil((maxY > 0 ? maxY * 1.1 : 1) / yStep) * yStep;

  constexpr int kWidth = 900, kHeight = 560;
  constexpr double kLeft = 80, kRight = 30, kTop = 50, kBottom = 70;
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const auto px = [&](double x) { return kLeft + x / xTop * plotW; };
  const auto py = [&](double y) { return kTop + plotH - y / yTop * plotH; };

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

  // Grid, ticks and their numbers.
  cairo_set_font_size(cr, 12);
  cairo_set_line_width(cr, 1);
  for (double y = 0; y <= yTop + yStep / 2; y += yStep) {
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    cairo_move_to(cr, kLeft, std::round(py(y)) + 0.5);
    cairo_line_to(cr, kLeft + plotW, std::round(py(y)) + 0.5);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_text_extents_t extents;
    const std::string label = number(y);
    cairo_text_extents(cr, label.c_str(), &extents);
    cairo_move_to(cr, kLeft - 8 - extents.width, py(y) + extents.height / 2);
    cairo_show_text(cr, label.c_str());
  }
  for (double x = 0; x <= xTop + xStep / 2; x += xStep) {
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_text_extents_t extents;
    const std::string label = number(x);
    cairo_text_extents(cr, label.c_str(), &extents);
    cairo_move_to(cr, px(x) - extents.width / 2, kTop + plotH + 18);
    cairo_show_text(cr, label.c_str());
  }
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_rectangle(cr, kLeft + 0.5, kTop + 0.5, plotW, plotH);
  cairo_stroke(cr);

  // Title and axis labels.
  cairo_set_font_size(cr, 16);
  cairo_move_to(cr, kLeft, kTop - 18);
  cairo_show_text(cr, argv[3]);
  cairo_set_font_size(cr, 13);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, argv[4], &extents);
  cairo_move_to(cr, kLeft + plotW / 2 - extents.width / 2, kHeight - 20);
  cairo_show_text(cr, argv[4]);
  cairo_save(cr);
  cairo_text_extents(cr, argv[5], &extents);
  cairo_move_to(cr, 24, kTop + plotH / 2 + extents.width / 2);
  cairo_rotate(cr, -M_PI / 2);
  cairo_show_text(cr, argv[5]);
  cairo_restore(cr);

  // The curves, each with its points marked, and the legend.
  static const double kColors[][3] = {{0.12, 0.47, 0.71}, {0.89, 0.35, 0.13}, {0.17, 0.63, 0.17},
                                      {0.58, 0.40, 0.74}, {0.55, 0.34, 0.29}, {0.84, 0.15, 0.16}};
  // The legend sits in the plot's top right corner, as wide as its longest name.
  cairo_set_font_size(cr, 13);
  double legendText = 0;
  for (const auto& curve : curves) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, curve.first.c_str(), &extents);
    legendText = std::max(legendText, extents.x_advance);
  }
  const double legendX = kLeft + plotW - legendText - 40;
  int index = 0;
  for (const auto& [name, points] : curves) {
    const double* color = kColors[index % 6];
    cairo_set_source_rgb(cr, color[0], color[1], color[2]);
    cairo_set_line_width(cr, 2.5);
    for (size_t i = 0; i < points.size(); ++i) {
      if (i == 0)
        cairo_move_to(cr, px(points[i].first), py(points[i].second));
      else
        cairo_line_to(cr, px(points[i].first), py(points[i].second));
    }
    cairo_stroke(cr);
    for (const auto& [x, y] : points) {
      cairo_arc(cr, px(x), py(y), 4, 0, 2 * M_PI);
      cairo_fill(cr);
    }
    const double ly = kTop + 20 + index * 24;
    cairo_rectangle(cr, legendX, ly - 9, 18, 10);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_font_size(cr, 13);
    cairo_move_to(cr, legendX + 24, ly);
    cairo_show_text(cr, name.c_str());
    ++index;
  }

  cairo_destroy(cr);
  const cairo_status_t written = cairo_surface_write_to_png(surface, argv[2]);
  cairo_surface_destroy(surface);
  if (written != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "bench_chart: cannot write %s: %s\n", argv[2], cairo_status_to_string(written));
    return 1;
  }
  return 0;
}
