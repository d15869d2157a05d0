#include "plugin/device/CommandTranslation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace ksplugs {
namespace {

TEST(CommandTranslationTest, TalkCodecsDefaultToTheDevicesStandardCodec) {
  EXPECT_EQ(CommandTranslation::talkCodec(2), 1);
  EXPECT_EQ(CommandTranslation::talkCodec(3), 5);
  EXPECT_EQ(CommandTranslation::talkCodec(4), 6);
  // The page's default codec 1 and anything unknown become the device's 2.
  for (int64_t other : {int64_t{1}, int64_t{0}, int64_t{5}, int64_t{6}, int64_t{-2}}) {
    EXPECT_EQ(CommandTranslation::talkCodec(other), 2) << other;
  }
}

TEST(CommandTranslationTest, RecordTypesBecomeSingleBitsOrTheWholeMask) {
  EXPECT_EQ(CommandTranslation::recordTypeMask(1), 1u);
  EXPECT_EQ(CommandTranslation::recordTypeMask(2), 2u);
  EXPECT_EQ(CommandTranslation::recordTypeMask(3), 4u);
  EXPECT_EQ(CommandTranslation::recordTypeMask(4), 8u);
  EXPECT_EQ(CommandTranslation::recordTypeMask(5), 16u);
  EXPECT_EQ(CommandTranslation::recordTypeMask(7), 32u);
  EXPECT_EQ(CommandTranslation::recordTypeMask(-1), 63u);
  // Type 6 has no bit of its own; unknown types ask for nothing.
  for (int64_t other : {int64_t{0}, int64_t{6}, int64_t{8}, int64_t{-2}, int64_t{0xFFFFFFFF}}) {
    EXPECT_EQ(CommandTranslation::recordTypeMask(other), 0u) << other;
  }
}

TEST(CommandTranslationTest, DownloadFormatTwoGoesOnAsThree) {
  EXPECT_EQ(CommandTranslation::downloadFormat(2), 3);
  EXPECT_EQ(CommandTranslation::downloadFormat(1), 1);
  EXPECT_EQ(CommandTranslation::downloadFormat(3), 3);
  EXPECT_EQ(CommandTranslation::downloadFormat(0), 0);
  EXPECT_EQ(CommandTranslation::downloadFormat(-7), -7);
}

}  // namespace
}  // namespace ksplugs
