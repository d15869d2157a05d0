#include "shell/command/PlaybackCommand.h"

#include <string>

#include "platform/sys/TimeText.h"
#include "shell/command/testing/DispatchFixture.h"

namespace kestrova {
namespace {

class PlaybackCommandTest : public testing::DispatchFixture {
 protected:
  std::string playback(int type, const std::string& objectName, const std::string& body) {
    std::string control = R"({"type": )" + std::to_string(type) + R"(, "uniqueId": 6, "channel": 1)";
    if (!objectName.empty()) control += R"(, ")" + objectName + R"(": )" + body;
    return send(R"({"msgId": 31, "Fountion": "playback", "PlaybackCtrl": )" + control + "}}");
  }
};

TEST_F(PlaybackCommandTest, PreviewDefaultsAndKeys) {
  std::string path;
  std::u16string title;
  plugin.onPlayback = [&](PlaybackControlParam& p) {
    path = p.preview.path;
    title = p.preview.title;
  };
  EXPECT_EQ(playback(1, "Preview", R"({"x": 3, "w": 200, "h": 100, "play": 1, "remote": true,
        "path": "/tmp/x", "title": "Page", "playPos": "2024-05-01 10:20:30"})"),
            standardReply(200, 31));
  const PlaybackControlParam& p = plugin.playbacks.back();
  EXPECT_EQ(p.uniqueId, 6u);
  EXPECT_EQ(p.channel, 1);
  EXPECT_EQ(p.connectionId, 5u);
  EXPECT_EQ(p.preview.streamType, 2);
  EXPECT_EQ(p.preview.recordType, -1);
  EXPECT_EQ(p.preview.clientPort, 40000u);
  EXPECT_EQ(p.preview.remote, 1);
  EXPECT_EQ(p.preview.play, 1);
  EXPECT_EQ(p.preview.playPos.year, 2024);
  EXPECT_EQ(p.preview.playPos.hour, 10);
  EXPECT_EQ(p.preview.playPos.second, 30);
  EXPECT_EQ(path, "/tmp/x");
  EXPECT_EQ(title, u"Page");

  playback(1, "Preview", "{}");
  EXPECT_EQ(plugin.playbacks.back().preview.playPos.year, 0);
  EXPECT_EQ(plugin.playbacks.back().preview.streamType, 2);

  // A position text that is not a time is a malformed request.
  const size_t calls = plugin.playbacks.size();
  EXPECT_EQ(playback(1, "Preview", R"({"playPos": "soon"})"), standardReply(1000, 31));
  EXPECT_EQ(plugin.playbacks.size(), calls);
}

TEST_F(PlaybackCommandTest, PositionAndOtherBodies) {
  playback(4, "Position", R"({"progress": 50, "newPos": ""})");
  EXPECT_EQ(plugin.playbacks.back().position.progress, 50);
  EXPECT_EQ(plugin.playbacks.back().position.newPos.year, 0);
  playback(4, "Position", R"({"newPos": "2024-05-06 07:08:09"})");
  EXPECT_EQ(plugin.playbacks.back().position.newPos.minute, 8);
  playback(2, "Speed", R"({"fast": true})");
  EXPECT_EQ(plugin.playbacks.back().speed.fast, 1);
  EXPECT_EQ(plugin.playbacks.back().speed.revertToNormal, 0);
  playback(6, "Fullscreen", "{}");
  EXPECT_EQ(plugin.playbacks.back().fullscreen.enter, 1);
  playback(8, "ShowDock", "{}");
  EXPECT_EQ(plugin.playbacks.back().showDock.showMode, 1u);
  // MoveDock takes any size here.
  EXPECT_EQ(playback(9, "MoveDock", R"({"w": 0, "h": 0})"), standardReply(200, 31));
  EXPECT_EQ(playback(3, "", ""), standardReply(1000, 31));
  EXPECT_EQ(playback(10, "Speed", "{}"), standardReply(1000, 31));
}

TEST_F(PlaybackCommandTest, PositionQueryReplies) {
  plugin.onPlayback = [](PlaybackControlParam& p) {
    p.position.progress = -1;
    p.position.newPos = SystemTime{2024, 5, 3, 1, 10, 20, 30, 0};
  };
  EXPECT_EQ(playback(5, "", ""),
            "{\n   \"code\" : 200,\n   \"msgId\" : 31,\n   \"nowPos\" : \"2024-05-01 10:20:30\"\n}\n");
  plugin.onPlayback = [](PlaybackControlParam& p) { p.position.progress = 4500; };
  EXPECT_EQ(playback(5, "", ""), "{\n   \"code\" : 200,\n   \"msgId\" : 31,\n   \"progress\" : 4500\n}\n");
}

TEST_F(PlaybackCommandTest, DockCreationUsesThePlaybackDock) {
  plugin.results = {1010, 0};
  EXPECT_EQ(playback(1, "Preview", R"({"remote": true})"), standardReply(200, 31));
  ASSERT_EQ(dockRequests.size(), 1u);
  EXPECT_EQ(dockRequests[0].first, 2);
  EXPECT_EQ(plugin.playbacks.size(), 2u);
}

}  // namespace
}  // namespace kestrova
