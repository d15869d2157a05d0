#include "platform/sys/Base64.h"

#include <gtest/gtest.h>

namespace {

TEST(Base64, KnownVectors) {
  EXPECT_EQ(sys::base64Encode(""), "");
  EXPECT_EQ(sys::base64Encode("f"), "Zg==");
  EXPECT_EQ(sys::base64Encode("fo"), "Zm8=");
  EXPECT_EQ(sys::base64Encode("foobar"), "Zm9vYmFy");
  const auto d = sys::base64Decode("Zm9vYg==");
  ASSERT_TRUE(d);
  EXPECT_EQ(std::string(d->begin(), d->end()), "foob");
}

TEST(Base64, RoundTripAllByteValues) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (size_t n = 0; n < bytes.size(); n += 37) {
    const auto d = sys::base64Decode(sys::base64Encode(bytes.substr(0, n)));
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(d->begin(), d->end()), bytes.substr(0, n));
  }
}

TEST(Base64, RejectsMalformedText) {
  EXPECT_FALSE(sys::base64Decode("Zm9"));       // length
  EXPECT_FALSE(sys::base64Decode("Zm9v!A=="));  // alphabet
  EXPECT_FALSE(sys::base64Decode("Zg==Zg=="));  // padding in the middle
  EXPECT_FALSE(sys::base64Decode("Z==="));      // too much padding
  EXPECT_FALSE(sys::base64Decode("Zm=v"));      // data after padding
}

}  // namespace
