#include "plugin/api/SdkResult.h"

#include <gtest/gtest.h>

namespace ksplugs {
namespace {

TEST(SdkResult, TableAndFallback) {
  EXPECT_EQ(MapSdkResult(0), 0);
  EXPECT_EQ(MapSdkResult(21), 3001);
  EXPECT_EQ(MapSdkResult(22), 3001);
  EXPECT_EQ(MapSdkResult(14), 3002);
  EXPECT_EQ(MapSdkResult(9), 1014);
  EXPECT_EQ(MapSdkResult(25), 3008);
  EXPECT_EQ(MapSdkResult(10203), 3006);
  EXPECT_EQ(MapSdkResult(16007), 1015);
  EXPECT_EQ(MapSdkResult(12345), 1013);
  EXPECT_EQ(MapSdkResult(-1), 1013);
}

}  // namespace
}  // namespace ksplugs
