#include "platform/sys/Utf.h"

#include <cstring>

namespace sys {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i`; advances `i` past what was consumed.
// Invalid input consumes one byte and yields U+FFFD.
char32_t decodeUtf8(std::string_view s, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  size_t need = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    need = 1; cp = lead & 0x1F; min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    need = 2; cp = lead & 0x0F; min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    need = 3; cp = lead & 0x07; min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (s.size() - i <= need) {
    ++i;
    return kReplacement;
  }
  for (size_t k = 1; k <= need; ++k) {
    const unsigned char c = byte(i + k);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += need + 1;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = decodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
      appendUtf8(out, cp);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

size_t utf16Length(const char16_t* text, size_t max) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (n < max && text[n] != 0) ++n;
  return n;
}

size_t copyUtf8Bounded(char* dst, size_t capacity, std::string_view src) {
  if (dst == nullptr || capacity == 0) return 0;
  size_t n = src.size();
  if (n > capacity - 1) {
    n = capacity - 1;
    // Step back over continuation bytes so the cut lands on a character start.
    while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
  return n;
}

size_t copyUtf16Bounded(char16_t* dst, size_t capacity, std::u16string_view src) {
  if (dst == nullptr || capacity == 0) return 0;
  size_t n = src.size();
  if (n > capacity - 1) {
    n = capacity - 1;
    // Do not keep the high half of a pair whose low half is cut off.
    if (n > 0 && src[n - 1] >= 0xD800 && src[n - 1] <= 0xDBFF) --n;
  }
  std::memcpy(dst, src.data(), n * sizeof(char16_t));
  dst[n] = 0;
  return n;
}

}  // namespace sys
