// The SDK on its own: calls it must refuse without asking a device, and
// scripted devices that stay silent or answer with broken messages. Each
// failure is answered with its code and ends only the connection it
// happened on.
#include "platform/devlink/DevLinkSdk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "platform/devlink/testing/FakeDevice.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using devlink::testing::FakeDevice;
namespace wire = devlink::wire;

class DevLinkSdkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
  void SetUp() override {
    ASSERT_EQ(DLSDK_StartUp(), 0);
    ASSERT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 1000), 0);
  }
  void TearDown() override { DLSDK_CleanUp(); }

  static int loginAt(uint16_t port, int32_t& handle) {
    DLSDK_LoginInfo info{};
    std::strcpy(info.address, "127.0.0.1");
    info.commandPort = port;
    std::strcpy(info.user, "admin");
    std::strcpy(info.password, "admin");
    return DLSDK_UserLogin(&handle, &info);
  }

 private:
  // Every test here finishes in seconds; a hang aborts the run.
  kstest::Watchdog watchdog_{60s, "DevLinkSdkTest"};
};

TEST_F(DevLinkSdkTest, SdkRefusesBadCallsWithoutTheDevice) {
  EXPECT_EQ(DLSDK_SetAttribute(77, 1), DLSDK_ERR_NOT_SUPPORTED);
  EXPECT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_RECEIVE_BUFFER, 1), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_RECEIVE_BUFFER, 0x200000), DLSDK_OK);
  EXPECT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_SEND_BUFFER, 0x200000), DLSDK_OK);
  EXPECT_EQ(DLSDK_RealStreamDisconnect(12345), DLSDK_ERR_INVALID_HANDLE);
  EXPECT_EQ(DLSDK_HistoryStreamFast(-1), DLSDK_ERR_INVALID_HANDLE);
  EXPECT_EQ(DLSDK_StreamMediaControl(1, 3), DLSDK_ERR_INVALID_PARAMETER);
  int64_t t = 0;
  EXPECT_EQ(DLSDK_StreamGetAbsoluteTime(1, nullptr), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(DLSDK_StreamGetAbsoluteTime(1, &t), DLSDK_ERR_INVALID_HANDLE);
  DLSDK_CleanUp();
  int32_t h = 0;
  DLSDK_LoginInfo info{};
  EXPECT_EQ(DLSDK_UserLogin(&h, &info), DLSDK_ERR_NOT_INITIALISED);
  DLSDK_StartUp();
}

TEST_F(DevLinkSdkTest, SilentDeviceTimesOut) {
  // A listener that never accepts: the connection completes in the kernel,
  // but no answer ever comes.
  devlink::Socket mute;
  uint16_t port = 0;
  ASSERT_TRUE(devlink::Socket::listenOn("127.0.0.1", 0, mute, port));
  ASSERT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 300), 0);
  DLSDK_LoginInfo info{};
  std::strcpy(info.address, "127.0.0.1");
  info.commandPort = port;
  std::strcpy(info.user, "admin");
  int32_t h = 0;
  EXPECT_EQ(DLSDK_UserLogin(&h, &info), DLSDK_ERR_TIMEOUT);
  EXPECT_EQ(h, -1);
}

TEST_F(DevLinkSdkTest, SdkRefusesMalformedReplies) {
  struct Case {
    const char* name;
    std::vector<uint8_t> reply;
    int expected;
  };
  std::vector<uint8_t> badMagic = FakeDevice::header(wire::kLoginChallenge, 0, 1, 0);
  badMagic[0] ^= 0xFF;
  std::vector<uint8_t> shortBody = FakeDevice::header(wire::kLoginChallenge, 0, 1, 3);
  shortBody.insert(shortBody.end(), {1, 2, 3});
  std::vector<uint8_t> halfHeader = FakeDevice::header(wire::kLoginChallenge, 0, 1, 0);
  halfHeader.resize(7);
  // A challenge asking for a key derivation far beyond what a client does.
  wire::LoginChallenge dear;
  dear.iterations = 0x7FFFFFFF;
  const std::vector<uint8_t> dearBody = wire::encode(dear);
  std::vector<uint8_t> tooDear =
      FakeDevice::header(wire::kLoginChallenge, 0, 1, static_cast<uint32_t>(dearBody.size()));
  tooDear.insert(tooDear.end(), dearBody.begin(), dearBody.end());
  const std::vector<Case> cases{
      {"bad magic", badMagic, DLSDK_ERR_PROTOCOL},
      {"huge length", FakeDevice::header(wire::kLoginChallenge, 0, 1, 0xFFFFFFFF), DLSDK_ERR_PROTOCOL},
      {"unknown type", FakeDevice::header(0x7777, 0, 1, 0), DLSDK_ERR_PROTOCOL},
      {"reply to another request", FakeDevice::header(wire::kLoginChallenge, 0, 99, 0), DLSDK_ERR_PROTOCOL},
      {"reply of another type", FakeDevice::header(wire::kLogin, 0, 1, 0), DLSDK_ERR_PROTOCOL},
      {"body of the wrong size", shortBody, DLSDK_ERR_PROTOCOL},
      {"key derivation too dear", tooDear, DLSDK_ERR_PROTOCOL},
      {"promised body never comes", FakeDevice::header(wire::kLoginChallenge, 0, 1, 1000), DLSDK_ERR_CONNECT},
      {"half a header", halfHeader, DLSDK_ERR_CONNECT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device(FakeDevice::answerWith(c.reply));
    int32_t h = 0;
    EXPECT_EQ(loginAt(device.port(), h), c.expected);
    EXPECT_EQ(h, -1);
  }
}

TEST_F(DevLinkSdkTest, ABrokenFrameEndsOnlyItsStream) {
  // A device whose login works and whose media port sends one good frame,
  // then a frame whose header claims more payload than it carries.
  FakeDevice command([](devlink::Socket& s) {
    wire::MessageReader reader;
    wire::Message m;
    while (s.readMessage(reader, m, 3000) == 0) {
      std::vector<uint8_t> body;
      if (m.header.type == wire::kLoginChallenge) body = wire::encode(wire::LoginChallenge{{}, {}, 1000});
      if (m.header.type == wire::kLogin) body = wire::encode(wire::LoginReply{{1, 2}, 1});
      s.sendMessage(m.header.type, 0, m.header.requestId, body, 1000);
    }
  });
  FakeDevice media([](devlink::Socket& s) {
    wire::MessageReader reader;
    wire::Message m;
    if (s.readMessage(reader, m, 3000) != 0) return;
    s.sendMessage(m.header.type, 0, m.header.requestId, wire::encode(wire::StreamInfo{352, 288, 2, 0, 25}), 1000);
    std::vector<uint8_t> frame(wire::kFrameHeaderSize + 4, 0);
    wire::FrameHeader h;
    h.kind = wire::kKeyFrame;
    h.format = wire::kH264;
    h.payloadLength = 4;
    wire::encodeFrameHeader(frame.data(), h);
    s.sendMessage(wire::kFrame, 0, 0, frame, 1000);
    h.payloadLength = 400;  // a lie
    wire::encodeFrameHeader(frame.data(), h);
    s.sendMessage(wire::kFrame, 0, 0, frame, 1000);
    std::this_thread::sleep_for(300ms);
  });
  int32_t login = -1, stream = -1;
  ASSERT_EQ(loginAt(command.port(), login), DLSDK_OK);
  DLSDK_LiveStreamRequest r{0, 1, DLSDK_STREAM_THIRD, media.port(), {}};
  ASSERT_EQ(DLSDK_RealStreamConnect(&stream, login, &r), DLSDK_OK);
  std::atomic<int> frames{0};
  ASSERT_EQ(DLSDK_StreamMediaCB(stream, [](int32_t, const DLSDK_MediaFrame*, void* c) -> int {
              ++*static_cast<std::atomic<int>*>(c);
              return 1;
            }, &frames), DLSDK_OK);
  // Waits until the stream is known to have ended: a control then fails.
  int rc = DLSDK_OK;
  for (int i = 0; i < 200 && rc == DLSDK_OK; ++i) {
    std::this_thread::sleep_for(10ms);
    rc = DLSDK_StreamMediaControl(stream, 1);
  }
  EXPECT_EQ(rc, DLSDK_ERR_CONNECT);
  EXPECT_LE(frames.load(), 1);
  EXPECT_EQ(DLSDK_RealStreamDisconnect(stream), DLSDK_OK);
  // The login is untouched.
  EXPECT_EQ(DLSDK_ForceIFrame(login, 0), DLSDK_OK);
  EXPECT_EQ(DLSDK_UserLogout(login), DLSDK_OK);
}

}  // namespace
