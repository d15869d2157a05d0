#include "platform/sys/Utf.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf, RoundTripsAllPlanes) {
  const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";  // a é 中 😀 z
  const std::u16string wide = sys::utf8ToUtf16(text);
  ASSERT_EQ(wide.size(), 6u);
  EXPECT_EQ(wide[3], 0xD83D);
  EXPECT_EQ(wide[4], 0xDE00);
  EXPECT_EQ(sys::utf16ToUtf8(wide), text);
}

TEST(Utf, MalformedInputBecomesReplacement) {
  // Truncated sequence, stray continuation, overlong '/', encoded surrogate.
  const std::u16string wide = sys::utf8ToUtf16("\xE4\xB8" "x\x80\xC0\xAF\xED\xA0\x80");
  for (char16_t u : wide) EXPECT_FALSE(u >= 0xD800 && u <= 0xDFFF);
  EXPECT_NE(wide.find(u'x'), std::u16string::npos);
  EXPECT_EQ(sys::utf16ToUtf8(u"\xD800" u"a"), "\xEF\xBF\xBD" "a");
}

TEST(Utf, BoundedCopiesNeverSplitACharacter) {
  char narrow[5];
  // "ab" then a 3-byte character: 5 bytes do not fit into 4 + terminator.
  EXPECT_EQ(sys::copyUtf8Bounded(narrow, sizeof narrow, "ab\xE4\xB8\xAD"), 2u);
  EXPECT_STREQ(narrow, "ab");
  EXPECT_EQ(sys::copyUtf8Bounded(narrow, sizeof narrow, "abcd"), 4u);
  EXPECT_STREQ(narrow, "abcd");

  char16_t wide[3];
  const std::u16string pair = u"a\U0001F600";  // a + surrogate pair
  EXPECT_EQ(sys::copyUtf16Bounded(wide, 3, pair), 1u);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[1], 0);
  EXPECT_EQ(sys::copyUtf16Bounded(wide, 0, pair), 0u);
}

}  // namespace
