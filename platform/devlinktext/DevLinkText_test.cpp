#include "platform/devlinktext/DevLinkText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Lattice {
  int rc = 1;
  std::vector<unsigned char> bytes;  // exactly `length` bytes on success
  uint32_t length = 0;
  int32_t width = -1;
  int32_t height = -1;
};

DevLinkTextLogFont makeFont(int32_t height, bool bold = false, bool italic = false,
                            const char* face = "Sans Serif") {
  DevLinkTextLogFont font{};
  font.lfHeight = height;
  font.lfWeight = bold ? 700 : 0;
  font.lfItalic = italic ? 1 : 0;
  font.lfCharSet = 1;
  std::strncpy(font.lfFaceName, face, sizeof font.lfFaceName - 1);
  return font;
}

constexpr size_t kMiB = 1048576;

Lattice render(const std::u16string& text, const DevLinkTextLogFont& font, size_t capacity = kMiB) {
  Lattice out;
  std::vector<unsigned char> buffer(capacity);
  uint32_t length = uint32_t(capacity);
  out.rc = DevLinkText_WStringToLattice(text.c_str(), &font, buffer.data(), &length, &out.width,
                                        &out.height);
  if (out.rc == DEVLINKTEXT_OK) {
    out.length = length;
    EXPECT_LE(length, capacity);
    buffer.resize(std::min<size_t>(length, capacity));
    out.bytes = std::move(buffer);
  }
  return out;
}

size_t rowBytes(const Lattice& l) { return (size_t(l.width) + 7) / 8; }

bool bit(const Lattice& l, int x, int y) {
  return (l.bytes[size_t(y) * rowBytes(l) + size_t(x) / 8] >> (7 - x % 8)) & 1;
}

size_t inkInRows(const Lattice& l, int firstRow, int rows) {
  size_t ink = 0;
  for (int y = firstRow; y < firstRow + rows; ++y) {
    for (int x = 0; x < l.width; ++x) {
      ink += bit(l, x, y);
    }
  }
  return ink;
}

size_t ink(const Lattice& l) { return inkInRows(l, 0, l.height); }

// Bits beyond the width in each row's last byte.
bool paddingClear(const Lattice& l) {
  const int pad = int(rowBytes(l) * 8) - l.width;
  if (pad == 0) {
    return true;
  }
  const unsigned char mask = uint8_t((1u << pad) - 1);
  for (int y = 0; y < l.height; ++y) {
    if (l.bytes[size_t(y) * rowBytes(l) + rowBytes(l) - 1] & mask) {
      return false;
    }
  }
  return true;
}

const std::u16string kDate = u"2024-05-06 07:08:09";

struct ShapeCase {
  const char* name;
  std::u16string text;
  int32_t lfHeight;
  bool bold;
  bool italic;
  int bands;
  int bandHeight;
};

TEST(DevLinkText, LatticeShape) {
  const ShapeCase cases[] = {
      {"date 32", kDate, 32, false, false, 1, 32},
      {"date negative height", kDate, -32, false, false, 1, 32},
      {"two lines", u"12\n34", 32, false, false, 2, 32},
      {"three lines bold italic", u"AB\nCD\nEF", 24, true, true, 3, 24},
      {"height 0 means 16", kDate, 0, false, false, 1, 16},
      {"largest height", u"8", 512, false, false, 1, 512},
      {"one row", u"W", 1, false, false, 1, 1},
      {"carriage return dropped", u"12\r\n34", 20, false, false, 2, 20},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Lattice l = render(c.text, makeFont(c.lfHeight, c.bold, c.italic));
    ASSERT_EQ(l.rc, DEVLINKTEXT_OK);
    EXPECT_GT(l.width, 0);
    EXPECT_EQ(l.height, c.bands * c.bandHeight);
    EXPECT_EQ(l.length, rowBytes(l) * size_t(l.height));
    EXPECT_TRUE(paddingClear(l));
    if (c.bandHeight >= 8) {
      for (int band = 0; band < c.bands; ++band) {
        EXPECT_GT(inkInRows(l, band * c.bandHeight, c.bandHeight), 0u) << "band " << band;
      }
    }
  }
}

TEST(DevLinkText, DateIsWiderThanTallAndNotSolid) {
  const Lattice l = render(kDate, makeFont(32));
  ASSERT_EQ(l.rc, DEVLINKTEXT_OK);
  // 19 characters of a 32-pixel font: several hundred dots wide.
  EXPECT_GT(l.width, 19 * 8);
  EXPECT_LT(l.width, 19 * 32);
  EXPECT_LT(ink(l), size_t(l.width) * size_t(l.height) / 2);
  // Each character leaves a column of ink: the lattice is not one blob.
  int inkColumns = 0;
  for (int x = 0; x < l.width; ++x) {
    bool any = false;
    for (int y = 0; y < l.height && !any; ++y) {
      any = bit(l, x, y);
    }
    inkColumns += any;
  }
  EXPECT_GT(inkColumns, 19);
  EXPECT_LT(inkColumns, l.width);
}

TEST(DevLinkText, WidthIsTheWidestLine) {
  const Lattice shortLine = render(u"1", makeFont(32));
  const Lattice longLine = render(u"1111111111", makeFont(32));
  const Lattice both = render(u"1\n1111111111", makeFont(32));
  ASSERT_EQ(shortLine.rc, DEVLINKTEXT_OK);
  ASSERT_EQ(longLine.rc, DEVLINKTEXT_OK);
  ASSERT_EQ(both.rc, DEVLINKTEXT_OK);
  EXPECT_LT(shortLine.width, longLine.width);
  EXPECT_EQ(both.width, longLine.width);
  // The second band of the pair is the long line alone.
  ASSERT_EQ(both.height, 64);
  const size_t half = both.length / 2;
  EXPECT_TRUE(std::equal(both.bytes.begin() + long(half), both.bytes.end(), longLine.bytes.begin()));
}

TEST(DevLinkText, StyleChangesInk) {
  const Lattice regular = render(kDate, makeFont(32));
  const Lattice bold = render(kDate, makeFont(32, true));
  const Lattice italic = render(kDate, makeFont(32, false, true));
  ASSERT_EQ(regular.rc, DEVLINKTEXT_OK);
  ASSERT_EQ(bold.rc, DEVLINKTEXT_OK);
  ASSERT_EQ(italic.rc, DEVLINKTEXT_OK);
  EXPECT_GT(ink(bold), ink(regular));
  EXPECT_NE(italic.bytes, regular.bytes);
  EXPECT_GE(italic.width, regular.width);
  // Weight 599 is still regular; 600 is bold.
  DevLinkTextLogFont almost = makeFont(32);
  almost.lfWeight = 599;
  EXPECT_EQ(render(kDate, almost).bytes, regular.bytes);
  DevLinkTextLogFont threshold = makeFont(32);
  threshold.lfWeight = 600;
  EXPECT_EQ(render(kDate, threshold).bytes, bold.bytes);
}

TEST(DevLinkText, RepeatableAndFaceIndependent) {
  const Lattice reference = render(kDate, makeFont(32, false, false, "DejaVu Sans"));
  ASSERT_EQ(reference.rc, DEVLINKTEXT_OK);
  for (const char* face : {"DejaVu Sans", "Arial", "Sans Serif", "", "No Such Face 42",
                           "DejaVu Serif", "Monospace"}) {
    SCOPED_TRACE(face);
    const Lattice l = render(kDate, makeFont(32, false, false, face));
    ASSERT_EQ(l.rc, DEVLINKTEXT_OK);
    EXPECT_EQ(l.width, reference.width);
    EXPECT_EQ(l.height, reference.height);
    EXPECT_EQ(l.bytes, reference.bytes);
  }
  // A face name without its NUL is not read past its 32 characters.
  DevLinkTextLogFont unterminated = makeFont(32);
  std::memset(unterminated.lfFaceName, 'A', sizeof unterminated.lfFaceName);
  EXPECT_EQ(render(kDate, unterminated).bytes, reference.bytes);
}

TEST(DevLinkText, ThreadsGetTheSameLattice) {
  const Lattice reference = render(kDate, makeFont(32, true, true));
  ASSERT_EQ(reference.rc, DEVLINKTEXT_OK);
  std::vector<Lattice> results(4);
  std::vector<std::thread> threads;
  for (Lattice& result : results) {
    threads.emplace_back([&result] {
      for (int i = 0; i < 5; ++i) {
        result = render(kDate, makeFont(32, true, true));
      }
    });
  }
  for (std::thread& t : threads) {
    t.join();
  }
  for (const Lattice& result : results) {
    EXPECT_EQ(result.rc, DEVLINKTEXT_OK);
    EXPECT_EQ(result.bytes, reference.bytes);
  }
}

TEST(DevLinkText, NullArgumentsAreRefused) {
  const DevLinkTextLogFont font = makeFont(32);
  unsigned char buffer[64];
  uint32_t length = sizeof buffer;
  int32_t width = 0;
  int32_t height = 0;
  struct Case {
    const char* name;
    const char16_t* text;
    const DevLinkTextLogFont* font;
    unsigned char* buffer;
    uint32_t* length;
    int32_t* width;
    int32_t* height;
  };
  const Case cases[] = {
      {"text", nullptr, &font, buffer, &length, &width, &height},
      {"font", u"1", nullptr, buffer, &length, &width, &height},
      {"buffer", u"1", &font, nullptr, &length, &width, &height},
      {"length", u"1", &font, buffer, nullptr, &width, &height},
      {"width", u"1", &font, buffer, &length, nullptr, &height},
      {"height", u"1", &font, buffer, &length, &width, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DevLinkText_WStringToLattice(c.text, c.font, c.buffer, c.length, c.width, c.height),
              DEVLINKTEXT_E_ARGUMENT);
    EXPECT_EQ(length, sizeof buffer);
  }
}

// A call whose output must not fit: the buffer sits inside a canary region
// and nothing outside [0, capacity) may change, nor any output on failure.
struct RefusedCase {
  const char* name;
  std::u16string text;
  int32_t lfHeight;
  size_t capacity;
  int expected;
};

TEST(DevLinkText, RefusedCallsWriteNothing) {
  const Lattice date = render(kDate, makeFont(32));
  ASSERT_EQ(date.rc, DEVLINKTEXT_OK);
  // 80 lines of 20 'W's at 512 pixels: far above the lattice limit.
  std::u16string tall;
  for (int i = 0; i < 80; ++i) {
    tall += u"WWWWWWWWWWWWWWWWWWWW\n";
  }
  // One line wider than Cairo's largest image.
  const std::u16string wide(20000, u'W');
  const std::u16string overlong(DEVLINKTEXT_MAX_TEXT_UNITS + 1, u'1');
  std::u16string manyLines(30000, u'\n');
  manyLines += u"1";
  const RefusedCase cases[] = {
      {"empty text", u"", 32, kMiB, DEVLINKTEXT_E_EMPTY_TEXT},
      {"height 513", kDate, 513, kMiB, DEVLINKTEXT_E_ARGUMENT},
      {"height -513", kDate, -513, kMiB, DEVLINKTEXT_E_ARGUMENT},
      {"height INT32_MIN", kDate, INT32_MIN, kMiB, DEVLINKTEXT_E_ARGUMENT},
      {"height INT32_MAX", kDate, INT32_MAX, kMiB, DEVLINKTEXT_E_ARGUMENT},
      {"capacity zero", kDate, 32, 0, DEVLINKTEXT_E_TOO_LARGE},
      {"capacity one", kDate, 32, 1, DEVLINKTEXT_E_TOO_LARGE},
      {"capacity one short", kDate, 32, date.length - 1, DEVLINKTEXT_E_TOO_LARGE},
      {"above the lattice limit", tall, 512, kMiB, DEVLINKTEXT_E_TOO_LARGE},
      {"wider than an image", wide, 32, kMiB, DEVLINKTEXT_E_TOO_LARGE},
      {"too many units", overlong, 32, kMiB, DEVLINKTEXT_E_TOO_LARGE},
      {"too many lines", manyLines, 32, kMiB, DEVLINKTEXT_E_TOO_LARGE},
  };
  constexpr size_t kGuard = 64;
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> region(c.capacity + 2 * kGuard, 0xA5);
    uint32_t length = uint32_t(c.capacity);
    int32_t width = -7;
    int32_t height = -9;
    const DevLinkTextLogFont font = makeFont(c.lfHeight);
    EXPECT_EQ(DevLinkText_WStringToLattice(c.text.c_str(), &font, region.data() + kGuard, &length,
                                           &width, &height),
              c.expected);
    EXPECT_EQ(length, c.capacity);
    EXPECT_EQ(width, -7);
    EXPECT_EQ(height, -9);
    for (size_t i = 0; i < region.size(); ++i) {
      ASSERT_EQ(region[i], 0xA5) << "byte " << i << " changed";
    }
  }
}

TEST(DevLinkText, ExactCapacityIsEnoughAndNothingBeyondIsWritten) {
  const Lattice date = render(kDate, makeFont(32));
  ASSERT_EQ(date.rc, DEVLINKTEXT_OK);
  std::vector<unsigned char> region(date.length + 16, 0xA5);
  uint32_t length = date.length;
  int32_t width = 0;
  int32_t height = 0;
  const DevLinkTextLogFont font = makeFont(32);
  ASSERT_EQ(DevLinkText_WStringToLattice(kDate.c_str(), &font, region.data(), &length, &width, &height),
            DEVLINKTEXT_OK);
  EXPECT_EQ(length, date.length);
  EXPECT_TRUE(std::equal(date.bytes.begin(), date.bytes.end(), region.begin()));
  for (size_t i = date.length; i < region.size(); ++i) {
    ASSERT_EQ(region[i], 0xA5);
  }
}

TEST(DevLinkText, LargeLatticeNearTheLimit) {
  // Many 16-row lines of digits: just under the lattice limit, then over it.
  const DevLinkTextLogFont font = makeFont(16);
  const Lattice one = render(u"0123456789", font);
  ASSERT_EQ(one.rc, DEVLINKTEXT_OK);
  const size_t perLine = one.length;
  const size_t fit = DEVLINKTEXT_MAX_LATTICE_BYTES / perLine;
  std::u16string text;
  for (size_t i = 0; i < fit; ++i) {
    text += i ? u"\n0123456789" : u"0123456789";
  }
  const Lattice big = render(text, font);
  ASSERT_EQ(big.rc, DEVLINKTEXT_OK);
  EXPECT_EQ(big.length, fit * perLine);
  EXPECT_LE(big.length, DEVLINKTEXT_MAX_LATTICE_BYTES);
  EXPECT_EQ(big.height, int(fit) * 16);
  text += u"\n0123456789";
  EXPECT_EQ(render(text, font).rc, DEVLINKTEXT_E_TOO_LARGE);
}

TEST(DevLinkText, UnpairedSurrogatesBecomeReplacementCharacters) {
  const Lattice replaced = render(u"12\uFFFD34", makeFont(24));
  ASSERT_EQ(replaced.rc, DEVLINKTEXT_OK);
  struct Case {
    const char* name;
    std::u16string text;
  };
  const Case cases[] = {
      {"lone high", std::u16string(u"12") + char16_t(0xD800) + u"34"},
      {"lone low", std::u16string(u"12") + char16_t(0xDC00) + u"34"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Lattice l = render(c.text, makeFont(24));
    ASSERT_EQ(l.rc, DEVLINKTEXT_OK);
    EXPECT_EQ(l.bytes, replaced.bytes);
  }
  // At the very end and reversed: rendered, whatever the glyphs.
  for (const std::u16string& text : {std::u16string(u"1") + char16_t(0xD83D),
                                     std::u16string(1, char16_t(0xDC00)) + char16_t(0xD800)}) {
    const Lattice l = render(text, makeFont(24));
    EXPECT_EQ(l.rc, DEVLINKTEXT_OK);
    EXPECT_EQ(l.height, 24);
  }
}

}  // namespace
