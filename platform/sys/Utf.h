#pragma once
// UTF-8 <-> UTF-16 conversion and bounded copies into fixed record fields.
//
// Texts from the page are UTF-8; wide record fields hold UTF-16 (char16_t).
// Malformed UTF-8 (bad lead bytes, truncated or overlong sequences, encoded
// surrogates) becomes U+FFFD so that nothing from outside can produce an
// ill-formed UTF-16 string. Lone surrogates in UTF-16 become U+FFFD in UTF-8.
#include <cstddef>
#include <string>
#include <string_view>

namespace sys {

std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

// Length of a zero-terminated UTF-16 string, reading at most `max` units.
size_t utf16Length(const char16_t* text, size_t max = static_cast<size_t>(-1));

// Copies `src` into `dst` (capacity `capacity` bytes, terminator included).
// A text that does not fit is cut at a UTF-8 character boundary, never inside
// a multi-byte sequence. Returns the number of bytes copied (terminator not
// counted). With capacity 0 nothing is written.
size_t copyUtf8Bounded(char* dst, size_t capacity, std::string_view src);

// The same for UTF-16 fields (capacity in units): a cut never splits a
// surrogate pair.
size_t copyUtf16Bounded(char16_t* dst, size_t capacity, std::u16string_view src);

}  // namespace sys
