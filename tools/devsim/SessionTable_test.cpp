#include "tools/devsim/SessionTable.h"

#include <gtest/gtest.h>

#include "platform/devlink/DevLinkSdk.h"

namespace {

using devsim::SessionTable;

TEST(SessionTable, TokensNameTheirSessionUntilItCloses) {
  SessionTable table(2);
  const auto a = table.open("admin", false);
  const auto b = table.open("viewer", true);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->sessionId, b->sessionId);
  EXPECT_EQ(table.size(), 2);
  EXPECT_FALSE(table.open("admin", false));  // full
  EXPECT_EQ(table.check(*a, true), DLSDK_OK);
  EXPECT_EQ(table.check(*b, false), DLSDK_OK);
  EXPECT_EQ(table.check(*b, true), DLSDK_ERR_NO_PERMISSION);
  EXPECT_EQ(table.check({a->sessionId, a->key ^ 1}, false), DLSDK_ERR_SESSION);
  table.close(a->sessionId);
  EXPECT_EQ(table.check(*a, false), DLSDK_ERR_SESSION);
  const auto c = table.open("admin", false);
  ASSERT_TRUE(c);
  EXPECT_NE(c->sessionId, a->sessionId);  // ids are not reused
}

}  // namespace
