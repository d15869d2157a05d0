#include "shell/command/EventPush.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova {
namespace {

std::vector<std::pair<int32_t, std::string>> sent;

int capture(int32_t connectionId, const char* data, size_t length) {
  sent.emplace_back(connectionId, std::string(data, length));
  return 0;
}

TEST(EventPush, SelectedEventCarriesTheCommonFieldsOnly) {
  NotifyEvent event{};
  event.type = NOTIFY_SELECTED;
  event.channel = 3;
  event.uniqueId = 7;
  event.connectionId = 2;
  EXPECT_EQ(buildPush(event),
            "{\n   \"Fountion\" : \"serverPush\",\n   \"PushDetail\" : {\n      \"channel\" : 3,\n"
            "      \"type\" : 2,\n      \"uniqueId\" : 7\n   }\n}\n");
}

TEST(EventPush, TypedBodies) {
  NotifyEvent bitrate{};
  bitrate.type = NOTIFY_BITRATE;
  bitrate.enable = 0;
  bitrate.bitrateStream = 2;
  const std::string b = buildPush(bitrate);
  EXPECT_NE(b.find("\"Bitrate\" : {\n         \"enable\" : false,\n         \"stream\" : 2"), std::string::npos) << b;

  NotifyEvent switched{};
  switched.type = NOTIFY_STREAM_SWITCHED;
  switched.switchedStream = 3;
  EXPECT_NE(buildPush(switched).find("\"StreamSwitch\" : {\n         \"stream\" : 3"), std::string::npos);

  NotifyEvent file{};
  file.type = NOTIFY_FILE_READY;
  file.fileType = 2;
  file.url = "http://127.0.0.1:4321/download/ab/c.jpg";
  const std::string f = buildPush(file);
  EXPECT_NE(f.find("\"type\" : 2"), std::string::npos);
  EXPECT_NE(f.find("\"url\" : \"http://127.0.0.1:4321/download/ab/c.jpg\""), std::string::npos);

  file.url = nullptr;  // defensive: no text, no crash
  EXPECT_NE(buildPush(file).find("\"url\" : \"\""), std::string::npos);

  NotifyEvent other{};
  other.type = 9;
  EXPECT_EQ(buildPush(other).find("Bitrate"), std::string::npos);
}

TEST(EventPush, CallbackSendsToTheOwnerConnection) {
  sent.clear();
  setPushSender(capture);
  NotifyEvent event{};
  event.type = NOTIFY_SELECTED;
  event.connectionId = 12;
  EXPECT_EQ(onActiveNotify(&event, nullptr), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, 12);
  EXPECT_EQ(sent[0].second, buildPush(event));
  EXPECT_EQ(onActiveNotify(nullptr, nullptr), 0);
  setPushSender(nullptr);
}

}  // namespace
}  // namespace kestrova
