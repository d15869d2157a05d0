#include "shell/command/LiveCommand.h"

#include <string>
#include <vector>

#include "shell/command/testing/DispatchFixture.h"

namespace kestrova {
namespace {

class LiveCommandTest : public testing::DispatchFixture {
 protected:
  std::string live(int type, const std::string& body, const std::string& extra = "") {
    static const char* kNames[] = {"", "Preview", "Audio", "Talk", "DigitalZoom", "Fullscreen", "AspectRatio",
                                   "SwitchStream", "Bitrate", "ShowDock", "MoveDock", "Split"};
    return send(R"({"msgId": 21, "Fountion": "live", "LiveCtrl": {"type": )" + std::to_string(type) +
                R"(, "uniqueId": 4, "channel": 2, ")" + kNames[type] + R"(": )" + body + extra + "}}");
  }

  // Texts hung on the record are valid only during the call: copy them there.
  void captureTexts() {
    plugin.onLive = [this](LiveControlParam& p) {
      names.clear();
      title.clear();
      char16_t** array = p.type == LIVE_PREVIEW ? p.preview.channelName
                         : p.type == LIVE_SWITCH_STREAM ? p.switchStream.channelName : nullptr;
      namesPresent = array != nullptr;
      for (size_t i = 0; array != nullptr && i < 64 && array[i] != nullptr; ++i) names.emplace_back(array[i]);
      if (p.type == LIVE_PREVIEW && p.preview.title != nullptr) title = p.preview.title;
    };
  }

  std::vector<std::u16string> names;
  std::u16string title;
  bool namesPresent = false;
};

TEST_F(LiveCommandTest, PreviewFillsHeaderAndBody) {
  captureTexts();
  EXPECT_EQ(live(1, R"({"title": "Page", "layout": 2, "x": 1, "y": 2, "w": 640, "h": 480, "openAll": true,
                       "channelName": ["A", "B"], "adjustPos": true})",
                 R"(, "settings": true)"),
            standardReply(200, 21));
  ASSERT_EQ(plugin.lives.size(), 1u);
  const LiveControlParam& p = plugin.lives[0];
  EXPECT_EQ(p.type, 1u);
  EXPECT_EQ(p.uniqueId, 4u);
  EXPECT_EQ(p.channel, 2);
  EXPECT_EQ(p.connectionId, 5u);
  EXPECT_EQ(p.settings, 1);
  EXPECT_EQ(p.preview.clientPort, 40000u);
  EXPECT_EQ(p.preview.layout, 2u);
  EXPECT_EQ(p.preview.x, 1);
  EXPECT_EQ(p.preview.h, 480);
  EXPECT_EQ(p.preview.streamType, 1);
  EXPECT_EQ(p.preview.openMode, 2u);
  EXPECT_EQ(p.preview.adjustPos, 1);
  EXPECT_EQ(title, u"Page");
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"B"}));
}

TEST_F(LiveCommandTest, PreviewOpenModes) {
  captureTexts();
  live(1, R"({"openAll": true, "closeAll": true, "channelName": ["A"]})");
  EXPECT_EQ(plugin.lives.back().preview.openMode, 2u);
  EXPECT_TRUE(namesPresent);

  live(1, R"({"closeAll": true, "channelName": ["A"], "open": false})");
  EXPECT_EQ(plugin.lives.back().preview.openMode, 1u);
  EXPECT_EQ(plugin.lives.back().preview.open, 1);  // "open" is not read when closing all
  EXPECT_FALSE(namesPresent);

  live(1, R"({"open": false, "channelName": ["A"]})");
  EXPECT_EQ(plugin.lives.back().preview.openMode, 0u);
  EXPECT_EQ(plugin.lives.back().preview.open, 0);
  EXPECT_FALSE(namesPresent);

  // More than 64 names are refused: no array at all.
  std::string many = "[";
  for (int i = 0; i < 65; ++i) many += std::string(i ? "," : "") + "\"n\"";
  live(1, R"({"channelName": )" + many + "]}");
  EXPECT_FALSE(namesPresent);
}

TEST_F(LiveCommandTest, TalkAndAudioDefaults) {
  live(3, "{}");
  const LiveTalkBody& t = plugin.lives.back().talk;
  EXPECT_EQ(t.sampleRate, 8000u);
  EXPECT_EQ(t.bitPerSample, 16u);
  EXPECT_EQ(t.soundChannel, 1u);
  EXPECT_EQ(t.codec, 1u);
  EXPECT_EQ(t.open, 1);
  EXPECT_EQ(t.toDevice, 0);
  live(2, "{}");
  EXPECT_EQ(plugin.lives.back().audio.mute, 0);
  EXPECT_EQ(plugin.lives.back().audio.sampleRate, 8000u);
}

TEST_F(LiveCommandTest, OtherBodiesAndDefaults) {
  live(4, "{}");
  EXPECT_EQ(plugin.lives.back().digitalZoom.open, 1);
  live(5, R"({"enter": false})");
  EXPECT_EQ(plugin.lives.back().fullscreen.enter, 0);
  live(6, R"({"ratio": true})");
  EXPECT_EQ(plugin.lives.back().aspectRatio.ratio, 1);
  captureTexts();
  live(7, R"({"newStream": 2, "channelName": ["Cam"]})");
  EXPECT_EQ(plugin.lives.back().switchStream.newStream, 2u);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Cam"}));
  live(8, R"({"kbpsMain": 4096, "kbpsThird": 256})");
  EXPECT_EQ(plugin.lives.back().bitrate.kbpsMain, 4096u);
  EXPECT_EQ(plugin.lives.back().bitrate.kbpsSub, 0u);
  EXPECT_EQ(plugin.lives.back().bitrate.kbpsThird, 256u);
  live(9, "{}");
  EXPECT_EQ(plugin.lives.back().showDock.showMode, 1u);
}

TEST_F(LiveCommandTest, RangeRulesRefuseWithoutCallingTheLibrary) {
  EXPECT_EQ(live(10, R"({"x": 0, "y": 0, "w": 0, "h": 10})"), standardReply(1000, 21));
  EXPECT_EQ(live(11, R"({"Count": 19})"), standardReply(1000, 21));
  EXPECT_EQ(live(11, R"({"Count": 0})"), standardReply(1000, 21));
  EXPECT_TRUE(plugin.lives.empty());
  EXPECT_EQ(live(11, R"({"Count": 18})"), standardReply(200, 21));
  EXPECT_EQ(plugin.lives.back().split.Count, 18u);
  EXPECT_EQ(live(10, R"({"x": -5, "y": 3, "w": 10, "h": 10})"), standardReply(200, 21));
  EXPECT_EQ(plugin.lives.back().moveDock.x, -5);
}

TEST_F(LiveCommandTest, MissingOrMistypedObjectsAnswer1000) {
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "live"})"), standardReply(1000, 1));
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "live", "LiveCtrl": 3})"), standardReply(1000, 1));
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "live", "LiveCtrl": {"type": 12, "Split": {}}})"),
            standardReply(1000, 1));
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "live", "LiveCtrl": {"type": 2}})"), standardReply(1000, 1));
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "live", "LiveCtrl": {"type": 2, "Audio": [1]}})"),
            standardReply(1000, 1));
  EXPECT_TRUE(plugin.lives.empty());
}

TEST_F(LiveCommandTest, DockCreationHandshakeRepeatsOnce) {
  plugin.results = {1010, 0};
  EXPECT_EQ(live(1, R"({"title": "Page"})"), standardReply(200, 21));
  ASSERT_EQ(dockRequests.size(), 1u);
  EXPECT_EQ(dockRequests[0].first, 1);
  EXPECT_EQ(plugin.lives.size(), 2u);

  // A failed dock creation is the answer; the command is not repeated.
  plugin.results = {1010};
  dockResult = 1013;
  EXPECT_EQ(live(9, "{}"), standardReply(1013, 21));
  EXPECT_EQ(plugin.lives.size(), 3u);

  // A second 1010 after creation is passed through, not looped on.
  plugin.results = {1010, 1010};
  dockResult = 0;
  EXPECT_EQ(live(9, "{}"), standardReply(1010, 21));
  EXPECT_EQ(plugin.lives.size(), 5u);
}

}  // namespace
}  // namespace kestrova
