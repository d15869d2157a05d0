// Hostile input to the device simulator: a raw client sends it broken
// messages, which it answers with a code, or not at all, and then closes the
// connection; the SDK's well-behaved sessions beside them are unaffected.
// (The SDK's side, a device answering with broken messages, is tested with
// the SDK in platform/devlink.)
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "platform/devlink/testing/FakeDevice.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using devlink::testing::FakeDevice;
namespace wire = devlink::wire;

class HostileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
  void SetUp() override {
    DLSDK_StartUp();
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 1000);
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
  kstest::Watchdog watchdog_{60s, "HostileTest"};
};

// Sends raw bytes to a port of the simulator and answers the reply header
// (type 0 when the connection closed without a reply) and whether the
// simulator closed the connection afterwards.
struct RawResult {
  uint16_t replyType = 0;
  uint16_t result = 0;
  bool closed = false;
};
RawResult sendRaw(uint16_t port, const std::vector<uint8_t>& bytes) {
  RawResult out;
  devlink::Socket s;
  if (devlink::Socket::connectTo("127.0.0.1", port, 1000, 0, 0, s) != 0) return out;
  s.sendAll(bytes.data(), bytes.size(), 1000);
  wire::MessageReader reader;
  wire::Message m;
  const int rc = s.readMessage(reader, m, 3000);
  if (rc == 0) {
    out.replyType = m.header.type;
    out.result = m.header.result;
  }
  out.closed = rc == DLSDK_ERR_CONNECT || s.readMessage(reader, m, 3000) == DLSDK_ERR_CONNECT;
  return out;
}

TEST_F(HostileTest, SimulatorClosesConnectionsThatSendGarbage) {
  devsim::DevSimOptions o;
  o.commandPort = 0;
  o.mediaPort = 0;
  o.loopSeconds = 1;
  devsim::DevSimServer server(o);
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;

  std::vector<uint8_t> garbage(100, 0xA5);
  for (uint16_t port : {server.commandPort(), server.mediaPort()}) {
    SCOPED_TRACE(port);
    RawResult r = sendRaw(port, garbage);
    EXPECT_EQ(r.replyType, 0);
    EXPECT_TRUE(r.closed);
    r = sendRaw(port, FakeDevice::header(wire::kLogin, 0, 1, 0xFFFFFFF0));
    EXPECT_TRUE(r.closed);
    r = sendRaw(port, FakeDevice::header(wire::kFrame, 0, 1, 0));
    EXPECT_TRUE(r.closed);
  }
  // A well-framed login with a body of the wrong size: refused with a code.
  std::vector<uint8_t> shortLogin = FakeDevice::header(wire::kLogin, 0, 5, 10);
  shortLogin.resize(shortLogin.size() + 10, 'a');
  RawResult r = sendRaw(server.commandPort(), shortLogin);
  EXPECT_EQ(r.replyType, wire::kLogin);
  EXPECT_EQ(r.result, DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_TRUE(r.closed);
  // A media request with a token the simulator never issued.
  const auto live = wire::encode(wire::LiveOpenRequest{{42, 42}, 0, DLSDK_STREAM_THIRD});
  std::vector<uint8_t> forged = FakeDevice::header(wire::kLiveOpen, 0, 1, static_cast<uint32_t>(live.size()));
  forged.insert(forged.end(), live.begin(), live.end());
  r = sendRaw(server.mediaPort(), forged);
  EXPECT_EQ(r.result, DLSDK_ERR_SESSION);
  EXPECT_TRUE(r.closed);

  // The simulator still serves well-behaved clients.
  int32_t login = -1, stream = -1, other = -1;
  ASSERT_EQ(loginAt(server.commandPort(), login), DLSDK_OK);
  DLSDK_LiveStreamRequest req{0, 1, DLSDK_STREAM_THIRD, server.mediaPort(), {}};
  ASSERT_EQ(DLSDK_RealStreamConnect(&stream, login, &req), DLSDK_OK);
  ASSERT_EQ(DLSDK_RealStreamConnect(&other, login, &req), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamMediaControl(stream, 2), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamMediaControl(other, 1), DLSDK_OK);
  EXPECT_EQ(server.streamCount(), 2);
  server.stop();
}

}  // namespace
