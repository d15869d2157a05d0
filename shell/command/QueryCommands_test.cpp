#include "shell/command/QueryCommands.h"

#include <string>

#include "shell/command/testing/DispatchFixture.h"

namespace kestrova {
namespace {

class QueryCommandsTest : public testing::DispatchFixture {
 protected:
  QueryCommandsTest() { plugin.defaultResult = 1001; }

  std::string download(const std::string& start, const std::string& end) {
    return send(R"({"msgId": 71, "Fountion": "download", "DownloadParam": {"operate": 1, "uniqueId": 3,
      "Playback": {"channel": 2, "startTime": ")" + start + R"(", "endTime": ")" + end + R"("}}})");
  }
};

TEST_F(QueryCommandsTest, RecordQueryValidatesThenAsksTheLibrary) {
  EXPECT_EQ(send(R"({"msgId": 61, "Fountion": "recordQuery", "PlaybackQuery": {"type": 1, "Summary": {},
                    "remote": true, "uniqueId": 4}})"),
            standardReply(1001, 61));
  ASSERT_EQ(plugin.queries.size(), 1u);
  EXPECT_EQ(plugin.queries[0].type, 1);
  EXPECT_EQ(plugin.queries[0].remote, 1);
  EXPECT_EQ(plugin.queries[0].uniqueId, 4u);
  EXPECT_EQ(plugin.queries[0].connectionId, 5u);

  const auto day = [&](const std::string& body) {
    return send(R"({"msgId": 62, "Fountion": "recordQuery", "PlaybackQuery": {"type": 2, "RecordByDay": )" + body +
                "}}");
  };
  EXPECT_EQ(day(R"({"dateStart": "2024-05-01 10:00:00", "dateEnd": "2024-05-01 09:00:00"})"),
            standardReply(1000, 62));
  EXPECT_EQ(day(R"({"dateStart": "2024-05-01 10:00:00", "dateEnd": "2024-05-01 10:00:00"})"),
            standardReply(1001, 62));
  EXPECT_EQ(day(R"({"dateStart": "2024-05-01 10:00:00"})"), standardReply(1001, 62));  // end repeats start
  EXPECT_EQ(day(R"({"dateStart": "whenever"})"), standardReply(1000, 62));
  EXPECT_EQ(send(R"({"msgId": 63, "Fountion": "recordQuery", "PlaybackQuery": {"type": 5}})"),
            standardReply(1000, 63));
  EXPECT_EQ(send(R"({"msgId": 64, "Fountion": "recordQuery", "PlaybackQuery": {"type": 4}})"),
            standardReply(1000, 64));
  EXPECT_EQ(send(R"({"msgId": 65, "Fountion": "recordQuery", "PlaybackQuery": {"type": 3}})"),
            standardReply(1001, 65));
  EXPECT_EQ(plugin.queries.size(), 4u);
}

TEST_F(QueryCommandsTest, DownloadSpanMustLieWithinOneDay) {
  plugin.defaultResult = 0;
  EXPECT_EQ(download("2024-05-01 23:00:00", "2024-05-02 01:00:00"), standardReply(1000, 71));
  EXPECT_EQ(download("2024-05-01 10:00:00", "2024-05-01 10:00:00"), standardReply(1000, 71));
  EXPECT_EQ(download("2024-05-01 10:00:00", "not a time"), standardReply(1000, 71));
  EXPECT_TRUE(plugin.downloads.empty());

  plugin.onDownload = [](DownloadControlParam& p) { p.taskId = 17; };
  EXPECT_EQ(download("2024-05-01 10:00:00", "2024-05-01 10:00:01"),
            "{\n   \"code\" : 200,\n   \"msgId\" : 71,\n   \"taskId\" : 17\n}\n");
  const DownloadControlParam& p = plugin.downloads.back();
  EXPECT_EQ(p.operate, 1);
  EXPECT_EQ(p.uniqueId, 3u);
  EXPECT_EQ(p.remote, 1);
  EXPECT_EQ(p.mainStream, 0);
  EXPECT_EQ(p.recordType, -1);
  EXPECT_EQ(p.format, 1);
  EXPECT_EQ(p.channel, 2);
  EXPECT_EQ(p.endSeconds - p.startSeconds, 1);
  EXPECT_EQ(p.startTime.hour, 10);
  EXPECT_NE(p.path, nullptr);
}

TEST_F(QueryCommandsTest, DownloadPathFitsItsBufferOrIsRefused) {
  plugin.defaultResult = 0;
  std::string seen;
  plugin.onDownload = [&](DownloadControlParam& p) { seen = p.path; };
  const auto withPath = [&](const std::string& path) {
    return send(R"({"msgId": 76, "Fountion": "download", "DownloadParam": {"operate": 1, "Playback": {"path": ")" +
                path + R"(", "startTime": "2024-05-01 10:00:00", "endTime": "2024-05-01 10:00:10"}}})");
  };
  const std::string longest = "/" + std::string(254, 'a') + ".mp4";  // 259 bytes and the terminator
  EXPECT_EQ(withPath(longest), "{\n   \"code\" : 200,\n   \"msgId\" : 76,\n   \"taskId\" : 0\n}\n");
  EXPECT_EQ(seen, longest);
  const size_t calls = plugin.downloads.size();
  // One byte more would be cut to another name: refused before the library.
  EXPECT_EQ(withPath("/" + std::string(255, 'a') + ".mp4"), standardReply(1000, 76));
  EXPECT_EQ(withPath("/tmp/a\\u0000b.mp4"), standardReply(1000, 76));
  EXPECT_EQ(plugin.downloads.size(), calls);
}

TEST_F(QueryCommandsTest, DownloadQueryAndInterrupt) {
  plugin.defaultResult = 0;
  plugin.onDownload = [](DownloadControlParam& p) {
    if (p.operate == 2) p.progress = 64;
  };
  EXPECT_EQ(send(R"({"msgId": 72, "Fountion": "download", "DownloadParam": {"operate": 2, "Query": {"taskId": 17}}})"),
            "{\n   \"code\" : 200,\n   \"msgId\" : 72,\n   \"percent\" : 64\n}\n");
  EXPECT_EQ(plugin.downloads.back().taskId, 17u);
  EXPECT_EQ(send(R"({"msgId": 73, "Fountion": "download", "DownloadParam": {"operate": 3, "Interrupt": {"taskId": 17}}})"),
            standardReply(200, 73));
  EXPECT_EQ(send(R"({"msgId": 74, "Fountion": "download", "DownloadParam": {"operate": 2}})"),
            standardReply(1000, 74));
  EXPECT_EQ(send(R"({"msgId": 75, "Fountion": "download", "DownloadParam": {"operate": 4}})"),
            standardReply(1000, 75));
}

}  // namespace
}  // namespace kestrova
