#include "shell/command/DeviceCommands.h"

#include <cstring>
#include <string>

#include "platform/sys/Utf.h"
#include "shell/command/testing/DispatchFixture.h"

namespace kestrova {
namespace {

class DeviceCommandsTest : public testing::DispatchFixture {
 protected:
  static std::string createRequest(const std::string& deviceExtra = R"("totalChannel": 4, "stream": [1, 1, 2, 2])",
                                   const std::string& auth = R"({"usr": "admin", "pwd": "pw", "address": "10.1.2.3"})") {
    return R"({"msgId": 11, "Fountion": "createDev", "Device": {"MAC": "00-11-22-33-44-55", "mediaPort": 6066,
      "cmdPort": 6060, "multilens": true, "resShowBitrate": "Bitrate", "resMainStream": "Main",
      "resSubStream": "Sub", "resThirdStream": "Third", )" +
           deviceExtra + R"(}, "Auth": )" + auth + "}";
  }
};

TEST_F(DeviceCommandsTest, CreateFillsTheRecordAndRepliesIdAndScale) {
  plugin.onCreate = [](DeviceCreateParam& p) { p.uniqueId = 3; };
  shellState().dpiRadio = 150;
  EXPECT_EQ(send(createRequest()),
            "{\n   \"code\" : 200,\n   \"dpiRadio\" : 150,\n   \"msgId\" : 11,\n   \"uniqueId\" : 3\n}\n");
  ASSERT_EQ(plugin.creates.size(), 1u);
  const DeviceCreateParam& p = plugin.creates[0];
  EXPECT_STREQ(p.MAC, "00-11-22-33-44-55");
  EXPECT_EQ(p.totalChannel, 4);
  EXPECT_EQ(p.mediaPort, 6066u);
  EXPECT_EQ(p.cmdPort, 6060u);
  EXPECT_EQ(p.multilens, 1);
  EXPECT_EQ(p.protocol, 1u);
  EXPECT_EQ(p.connectionId, 5u);
  EXPECT_STREQ(p.usr, "admin");
  EXPECT_STREQ(p.pwd, "pw");
  EXPECT_STREQ(p.address, "10.1.2.3");
  EXPECT_EQ(std::u16string(p.resThirdStream), u"Third");
  EXPECT_EQ(plugin.createStreams[0], (std::vector<uint8_t>{1, 1, 2, 2}));
}

TEST_F(DeviceCommandsTest, StreamElementsKeepTheirLowByte) {
  send(createRequest(R"("totalChannel": 4, "stream": [1, "x", 300, 2])"));
  ASSERT_EQ(plugin.createStreams.size(), 1u);
  EXPECT_EQ(plugin.createStreams[0], (std::vector<uint8_t>{1, 0, 44, 2}));
}

TEST_F(DeviceCommandsTest, NoChannelsStillPassesARealBlock) {
  plugin.onCreate = [](DeviceCreateParam& p) { EXPECT_NE(p.stream, nullptr); };
  send(createRequest(R"("totalChannel": 0, "stream": [])"));
  EXPECT_EQ(plugin.creates.size(), 1u);
}

TEST_F(DeviceCommandsTest, ABlockTheLibraryTookOverIsNotFreedTwice) {
  // The library takes the block and clears the field; freeing it is then its
  // business (ASan would report a double free or a leak otherwise).
  plugin.onCreate = [](DeviceCreateParam& p) {
    std::free(p.stream);
    p.stream = nullptr;
  };
  send(createRequest());
  EXPECT_EQ(lastResult, 0);
}

TEST_F(DeviceCommandsTest, RefusedCreationsNeverReachTheLibrary) {
  EXPECT_EQ(send(createRequest(R"("totalChannel": 4, "stream": [1, 1, 2])")), standardReply(1000, 11));
  EXPECT_EQ(send(createRequest(R"("totalChannel": -1, "stream": [])")), standardReply(1000, 11));
  EXPECT_EQ(send(createRequest(R"("totalChannel": 1, "stream": 5)")), standardReply(1000, 11));
  EXPECT_EQ(send(createRequest(R"("totalChannel": 1, "stream": [1], "resThirdStream": "")")),
            standardReply(1000, 11));
  EXPECT_EQ(send(createRequest(R"("totalChannel": 1, "stream": [1])", "7")), standardReply(1000, 11));
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "createDev", "Device": []})"), standardReply(1000, 1));
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "createDev"})"), standardReply(1000, 1));
  EXPECT_TRUE(plugin.creates.empty());
}

TEST_F(DeviceCommandsTest, WrongTypesKeepDefaults) {
  send(createRequest(R"("totalChannel": 1, "stream": [1], "cmdPort": "6060", "multilens": 1)",
                     R"({"usr": 5, "protocol": "2", "lowPower": "yes"})"));
  ASSERT_EQ(plugin.creates.size(), 1u);
  const DeviceCreateParam& p = plugin.creates[0];
  EXPECT_EQ(p.protocol, 1u);
  EXPECT_EQ(p.cmdPort, 0u);
  EXPECT_EQ(p.multilens, 0);
  EXPECT_EQ(p.lowPower, 0);
  EXPECT_STREQ(p.usr, "");
}

TEST_F(DeviceCommandsTest, LongTextsAreCutAtACharacterBoundary) {
  // 17 bytes fit into MAC[18]; "é" (2 bytes) at byte 16 must not be split.
  send(createRequest(R"("totalChannel": 1, "stream": [1], "MAC": "0123456789abcdef\u00e9xyz",
                        "resMainStream": ")" + std::string(100, 'M') + "\""));
  ASSERT_EQ(plugin.creates.size(), 1u);
  EXPECT_STREQ(plugin.creates[0].MAC, "0123456789abcdef");
  EXPECT_EQ(sys::utf16Length(plugin.creates[0].resMainStream, 64), 63u);
}

TEST_F(DeviceCommandsTest, LibraryResultsPassThrough) {
  plugin.results = {1018};
  EXPECT_EQ(send(createRequest()), standardReply(1018, 11));
}

TEST_F(DeviceCommandsTest, DestroyVariants) {
  EXPECT_EQ(send(R"({"msgId": 1, "Fountion": "destroy", "DestroyObject": {"type": 1, "Device": {"uniqueId": 9}}})"),
            standardReply(200, 1));
  ASSERT_EQ(plugin.destroys.size(), 1u);
  EXPECT_EQ(plugin.destroys[0].byUniqueId, 1);
  EXPECT_EQ(plugin.destroys[0].uniqueId, 9u);

  send(R"({"msgId": 2, "Fountion": "destroy", "DestroyObject": {"type": 1, "Device": {}}})");
  EXPECT_EQ(plugin.destroys.back().uniqueId, 0u);

  send(R"({"msgId": 3, "Fountion": "destroy", "DestroyObject": {"type": 2, "Windows": {"hWnd": 77}}})");
  EXPECT_EQ(plugin.destroys.back().type, 2);
  EXPECT_EQ(plugin.destroys.back().hWnd, 77u);

  const size_t before = plugin.destroys.size();
  EXPECT_EQ(send(R"({"msgId": 4, "Fountion": "destroy", "DestroyObject": {"type": 3}})"), standardReply(1000, 4));
  EXPECT_EQ(send(R"({"msgId": 5, "Fountion": "destroy", "DestroyObject": {"type": 1}})"), standardReply(1000, 5));
  EXPECT_EQ(send(R"({"msgId": 6, "Fountion": "destroy", "DestroyObject": {"type": 2, "Windows": 1}})"),
            standardReply(1000, 6));
  EXPECT_EQ(send(R"({"msgId": 7, "Fountion": "destroy", "DestroyObject": "x"})"), standardReply(1000, 7));
  EXPECT_EQ(plugin.destroys.size(), before);
}

}  // namespace
}  // namespace kestrova
