#include "shell/command/CaptureCommands.h"

#include <cstring>
#include <string>

#include "shell/command/testing/DispatchFixture.h"

namespace kestrova {
namespace {

using CaptureCommandsTest = testing::DispatchFixture;

TEST_F(CaptureCommandsTest, SnapshotDefaultsAndChosenPath) {
  std::string pathIn;
  plugin.onSnapshot = [&](SnapshotParam& p) {
    pathIn = p.path;
    std::strcpy(p.path, "/tmp/Kestrova/Image/a.jpg");
  };
  EXPECT_EQ(send(R"({"msgId": 41, "Fountion": "snapshot", "Capture": {"uniqueId": 5, "channel": 0}})"),
            "{\n   \"actualPath\" : \"/tmp/Kestrova/Image/a.jpg\",\n   \"code\" : 200,\n   \"msgId\" : 41\n}\n");
  const SnapshotParam& p = plugin.snapshots.back();
  EXPECT_EQ(p.live, 1);
  EXPECT_EQ(p.newMethod, 0);
  EXPECT_EQ(p.format, 1);
  EXPECT_EQ(p.uniqueId, 5u);
  EXPECT_EQ(p.connectionId, 5u);
  EXPECT_EQ(pathIn, "");

  send(R"({"msgId": 42, "Fountion": "snapshot", "Capture": {"path": 7}})");
  EXPECT_EQ(pathIn, "");
  // A path fits whole or is refused, never cut to another.
  send(R"({"msgId": 42, "Fountion": "snapshot", "Capture": {"path": ")" + std::string(259, 'p') + R"("}})");
  EXPECT_EQ(pathIn.size(), 259u);
  const size_t calls = plugin.snapshots.size();
  EXPECT_EQ(send(R"({"msgId": 42, "Fountion": "snapshot", "Capture": {"path": ")" + std::string(260, 'p') + R"("}})"),
            standardReply(1000, 42));
  EXPECT_EQ(plugin.snapshots.size(), calls);
}

TEST_F(CaptureCommandsTest, PathTheLibraryFilledCompletelyIsReadWithinTheBuffer) {
  plugin.onSnapshot = [](SnapshotParam& p) { std::memset(p.path, 'z', 260); };
  const Json::Value reply = sendParsed(R"({"msgId": 43, "Fountion": "snapshot", "Capture": {}})");
  EXPECT_EQ(reply["actualPath"].asString().size(), 260u);
}

TEST_F(CaptureCommandsTest, FailureGivesTheStandardReply) {
  plugin.results = {1016};
  EXPECT_EQ(send(R"({"msgId": 44, "Fountion": "snapshot", "Capture": {}})"), standardReply(1016, 44));
  EXPECT_EQ(send(R"({"msgId": 45, "Fountion": "snapshot", "Capture": 1})"), standardReply(1000, 45));
}

TEST_F(CaptureCommandsTest, RecordStartAndStop) {
  std::string pathIn = "unset";
  plugin.onRecord = [&](StreamRecordParam& p) {
    pathIn = p.path;
    std::strcpy(p.path, "/tmp/Kestrova/Video/rec.mp4");
  };
  EXPECT_EQ(send(R"({"msgId": 51, "Fountion": "record", "VideoRecord": {"uniqueId": 2, "path": "/x"}})"),
            standardReply(200, 51));
  EXPECT_EQ(pathIn, "");  // "path" in the request has no effect
  EXPECT_EQ(plugin.records.back().start, 1);
  EXPECT_EQ(plugin.records.back().live, 1);
  EXPECT_EQ(send(R"({"msgId": 52, "Fountion": "record", "VideoRecord": {"uniqueId": 2, "start": false}})"),
            "{\n   \"actualPath\" : \"/tmp/Kestrova/Video/rec.mp4\",\n   \"code\" : 200,\n   \"msgId\" : 52\n}\n");
  EXPECT_EQ(send(R"({"msgId": 53, "Fountion": "record"})"), standardReply(1000, 53));
}

}  // namespace
}  // namespace kestrova
