#include "shell/command/Dispatcher.h"

#include <string>

#include "shell/command/JsonReading.h"
#include "shell/command/testing/DispatchFixture.h"

namespace kestrova {
namespace {

using DispatcherTest = testing::DispatchFixture;

TEST_F(DispatcherTest, NamesCompareWithoutCase) {
  plugin.defaultResult = 0;
  EXPECT_EQ(send(R"({"msgId": 7, "Fountion": "DESTROY", "DestroyObject": {"type": 1, "Device": {}}})"),
            standardReply(200, 7));
  ASSERT_EQ(plugin.calls.size(), 1u);
  EXPECT_EQ(plugin.calls[0], "destroyObject");
}

// The standard reply, and the stand-in for a reply that cannot be sent,
// are written without the JSON writer, yet read exactly as the writer's.
TEST_F(DispatcherTest, TheStandardRepliesReadAsTheWritersDo) {
  for (const int code : {200, 1000, 1003, 1009, -1}) {
    for (const uint32_t msgId : {0u, 77u, 4294967295u}) {
      Json::Value standard(Json::objectValue);
      standard["code"] = code;
      standard["msgId"] = msgId;
      EXPECT_EQ(Dispatcher::standardReply(code, msgId), writeStyled(standard)) << code << " " << msgId;
      if (code == 1003) {
        EXPECT_EQ(Dispatcher::unsendableReply(msgId), writeStyled(standard)) << msgId;
      }
    }
  }
}

TEST_F(DispatcherTest, MalformedEnvelopesAnswer1000) {
  EXPECT_EQ(send(R"({"msgId": 7, "Fountion": "unknown"})"), standardReply(1000, 7));
  EXPECT_EQ(send(R"({"Fountion": "live"})"), standardReply(1000, 0));
  EXPECT_EQ(send("[1,2]"), standardReply(1000, 0));
  EXPECT_EQ(send("not json at all"), standardReply(1000, 0));
  EXPECT_EQ(send(""), standardReply(1000, 0));
  EXPECT_EQ(send(R"({"msgId": 8})"), standardReply(1000, 8));
  EXPECT_EQ(send(R"({"msgId": 9, "Fountion": 3})"), standardReply(1000, 9));
  EXPECT_EQ(send(R"({"msgId": 10, "Fountion": {"a": 1}})"), standardReply(1000, 10));
  // Deep nesting is refused by the reader, not by a crash.
  EXPECT_EQ(send(std::string(100000, '[') + std::string(100000, ']')), standardReply(1000, 0));
  // and the reader goes on reading after it.
  EXPECT_EQ(send(R"({"msgId": 11, "Fountion": "unknown"})"), standardReply(1000, 11));
  EXPECT_TRUE(plugin.calls.empty());
}

TEST_F(DispatcherTest, PermissiveReaderAcceptsComments) {
  EXPECT_EQ(send("// a comment\n{\"msgId\": 3, /* inline */ \"Fountion\": \"recordQuery\", "
                 "\"PlaybackQuery\": {\"type\": 3}}"),
            standardReply(200, 3));
}

TEST_F(DispatcherTest, MsgIdThatIsNotUnsignedEchoesZero) {
  EXPECT_EQ(send(R"({"msgId": -3, "Fountion": "destroy", "DestroyObject": {"type": 1, "Device": {}}})"),
            standardReply(200, 0));
  EXPECT_EQ(send(R"({"msgId": "12", "Fountion": "destroy", "DestroyObject": {"type": 3}})"), standardReply(1000, 0));
  EXPECT_EQ(send(R"({"msgId": 4294967295, "Fountion": "nothing"})"), standardReply(1000, 4294967295u));
}

TEST_F(DispatcherTest, UpgradePendingRefusesEverythingBeforeTheLibrary) {
  shellState().upgradePending = true;
  EXPECT_EQ(send(R"({"msgId": 5, "Fountion": "createDev", "Device": {}})"), standardReply(1008, 0));
  std::string reply;
  EXPECT_EQ(dispatcher_.dispatch(nullptr, 0, 5, 0, reply), 1008);
  EXPECT_TRUE(plugin.calls.empty());
}

TEST_F(DispatcherTest, UpgradeDuringAHandlerReplaces200With1008) {
  plugin.onSnapshot = [](SnapshotParam&) { shellState().upgradePending = true; };
  EXPECT_EQ(send(R"({"msgId": 6, "Fountion": "snapshot", "Capture": {}})"), standardReply(1008, 6));
}

TEST_F(DispatcherTest, ConnectionGoneDestroysTheConnectionsDeviceAndSendsNothing) {
  std::string reply;
  EXPECT_EQ(dispatcher_.dispatch(nullptr, 0, 42, 0, reply), 0);
  EXPECT_TRUE(reply.empty());
  ASSERT_EQ(plugin.destroys.size(), 1u);
  EXPECT_EQ(plugin.destroys[0].type, 1);
  EXPECT_EQ(plugin.destroys[0].byUniqueId, 0);
  EXPECT_EQ(plugin.destroys[0].uniqueId, 42u);
}

TEST_F(DispatcherTest, ExtErrorTravelsInTheStandardReply) {
  // globalCtrl with an operation object that is not an object is refused
  // without ending the process, whatever handler sits behind the name.
  const Json::Value reply = sendParsed(R"({"msgId": 2, "Fountion": "globalCtrl", "global": 5})");
  EXPECT_NE(reply["code"].asInt(), 200);
  EXPECT_EQ(reply["msgId"].asUInt(), 2u);
}

}  // namespace
}  // namespace kestrova
