#include "platform/h264parse/BitReader.h"

#include <gtest/gtest.h>

#include <vector>

namespace h264parse {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(BitReader, ExpGolombCodesAcrossByteBoundaries) {
  // 1 | 010 | 011 | 00100 | 00101 | 0000001111111 then padding:
  // ue 0, 1, 2, 3, 4 and 126; read back as se the same codes are 0, 1, -1, 2, -2.
  const Bytes data = {0xA6, 0x42, 0x81, 0xFC, 0x00};
  BitReader ue(data.data(), data.size() * 8);
  uint32_t v = 99;
  for (uint32_t expected : {0u, 1u, 2u, 3u, 4u, 126u}) {
    ASSERT_TRUE(ue.readUe(v));
    EXPECT_EQ(v, expected);
  }
  BitReader se(data.data(), data.size() * 8);
  int32_t s = 99;
  for (int32_t expected : {0, 1, -1, 2, -2}) {
    ASSERT_TRUE(se.readSe(s));
    EXPECT_EQ(s, expected);
  }
}

TEST(BitReader, LargestCodesAndOverlongPrefixes) {
  // 31 zeros, a one and 31 ones: 2^32 - 2, the largest value a field holds.
  Bytes largest = {0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFE};
  BitReader r(largest.data(), largest.size() * 8);
  uint32_t v = 0;
  ASSERT_TRUE(r.readUe(v));
  EXPECT_EQ(v, 0xFFFFFFFEu);
  BitReader s(largest.data(), largest.size() * 8);
  int32_t sv = 0;
  ASSERT_TRUE(s.readSe(sv));
  EXPECT_EQ(sv, -2147483647);

  // 32 zeros cannot start a valid code: corrupt, not merely short.
  const Bytes overlong = {0x00, 0x00, 0x00, 0x00, 0x80};
  BitReader o(overlong.data(), overlong.size() * 8);
  EXPECT_FALSE(o.readUe(v));
  EXPECT_EQ(o.fault(), BitReader::Fault::Corrupt);
}

TEST(BitReader, DropsEmulationPreventionBytes) {
  // 00 00 03 01 is the payload 00 00 01; after 00 00 03 the zero count
  // starts again, so the second 03 below is payload, and so is a 03 that
  // follows a single zero.
  const Bytes data = {0x00, 0x00, 0x03, 0x01, 0x00, 0x03, 0x00, 0x00, 0x03, 0x03};
  BitReader r(data.data(), data.size() * 8);
  std::vector<uint32_t> bytes;
  uint32_t v = 0;
  while (r.readBits(8, v)) bytes.push_back(v);
  EXPECT_EQ(bytes, (std::vector<uint32_t>{0x00, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x03}));
  EXPECT_EQ(r.fault(), BitReader::Fault::Truncated);
}

TEST(BitReader, StopsAtTheBitLengthAndStaysFailed) {
  const Bytes data = {0xFF, 0xF0};
  BitReader r(data.data(), 12);  // the low four bits of the second byte are not ours
  uint32_t v = 0;
  ASSERT_TRUE(r.readBits(12, v));
  EXPECT_EQ(v, 0xFFFu);
  EXPECT_FALSE(r.readBits(1, v));
  EXPECT_EQ(r.fault(), BitReader::Fault::Truncated);
  EXPECT_FALSE(r.readBits(0, v));  // once failed, always failed
}

TEST(BitReader, TrailingBits) {
  const Bytes good = {0xC0, 0x00};  // one data bit, the stop bit, zeros
  BitReader a(good.data(), good.size() * 8);
  EXPECT_TRUE(a.skipBits(1));
  EXPECT_TRUE(a.finishAtTrailingBits());

  const Bytes junkAfterStop = {0xC0, 0x01};
  BitReader b(junkAfterStop.data(), junkAfterStop.size() * 8);
  EXPECT_TRUE(b.skipBits(1));
  EXPECT_FALSE(b.finishAtTrailingBits());
  EXPECT_EQ(b.fault(), BitReader::Fault::Corrupt);

  const Bytes noStop = {0x80};
  BitReader c(noStop.data(), noStop.size() * 8);
  EXPECT_TRUE(c.skipBits(8));
  EXPECT_FALSE(c.finishAtTrailingBits());
  EXPECT_EQ(c.fault(), BitReader::Fault::Truncated);

  // Opaque extension data passes as long as a stop bit ends it somewhere.
  const Bytes extension = {0x5A, 0x00, 0x20};
  BitReader d(extension.data(), extension.size() * 8);
  EXPECT_TRUE(d.skipToTrailingBits());
  const Bytes zeros = {0x00, 0x00};
  BitReader e(zeros.data(), zeros.size() * 8);
  EXPECT_FALSE(e.skipToTrailingBits());
}

}  // namespace
}  // namespace h264parse
