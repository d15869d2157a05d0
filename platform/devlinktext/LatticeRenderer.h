#pragma once
// Lays out lines of text in bands of a fixed height and thresholds them into
// a one-bit lattice: rows top to bottom, most significant bit first, 1 = ink,
// each row padded to whole bytes.

#include <pango/pango.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace devlinktext {

struct LatticeStyle {
  int bandHeight = 16;  // rows per line, 1..512
  bool bold = false;
  bool italic = false;
};

class LatticeRenderer {
public:
  enum class Result { Ok, TooLarge, Render };

  // The font map must stay valid, and be used by no one else, for the
  // renderer's life (the library's lock covers both).
  LatticeRenderer(PangoFontMap* fontMap, LatticeStyle style);
  ~LatticeRenderer();
  LatticeRenderer(const LatticeRenderer&) = delete;
  LatticeRenderer& operator=(const LatticeRenderer&) = delete;

  // Measures `lines` (UTF-8, no line feeds). On Ok, width/rows/bytes hold the
  // lattice's size; bytes is never above `limit`.
  Result measure(const std::vector<std::string>& lines, size_t limit);

  // Renders the measured lines into `out` (cleared first, bytes() long).
  Result render(std::vector<uint8_t>& out);

  int width() const { return width_; }
  int rows() const { return rows_; }
  size_t bytes() const { return bytes_; }

  // The slant of italic text: x moves right by this much per row upwards.
  static constexpr double kShear = 0.2;
  // Cairo's largest image side.
  static constexpr int kMaxWidth = 32767;

private:
  PangoLayout* makeLayout(const std::string& line);

  LatticeStyle style_;
  PangoContext* context_ = nullptr;  // owned
  PangoFontDescription* font_ = nullptr;  // owned
  const std::vector<std::string>* lines_ = nullptr;
  int width_ = 0;
  int rows_ = 0;
  size_t bytes_ = 0;
  int slantPixels_ = 0;  // extra columns an italic line may need
};

}  // namespace devlinktext
