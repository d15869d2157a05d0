// The shell's start of the WebSocket server: the configuration's port and
// origin list reach the server, and an unusable port starts nothing.
#include "shell/command/ServerBoundary.h"

#include <gtest/gtest.h>

#include "platform/sockhub/SockHub.h"
#include "shell/services/ServiceConfig.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WsClient.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using kstest::WsClient;

class ServerBoundaryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SockHub_Stop();
    SockHub_SetAllowedOrigins(nullptr, 0);
  }

  // 101 when the upgrade was accepted, else the refusal's status.
  static unsigned attempt(uint16_t port, const std::string& origin) {
    WsClient client;
    WsClient::Options options;
    options.origin = origin;
    return client.connect(port, options) ? 101u : client.handshakeStatus();
  }
};

TEST_F(ServerBoundaryTest, TheConfiguredPortAndOriginsReachTheServer) {
  kstest::Watchdog watchdog(30s, "configured server");
  ServiceConfig config;
  config.wsPort = 0;
  config.allowedOrigins = {"http://192.168.1.64", "https://nvr.example:8443"};
  ASSERT_EQ(startServer(config), SOCKHUB_OK);
  const uint16_t port = SockHub_BoundPort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(attempt(port, "http://192.168.1.64"), 101u);
  EXPECT_EQ(attempt(port, "https://nvr.example:8443"), 101u);
  EXPECT_EQ(attempt(port, "http://192.168.1.65"), 403u);

  // Started again without a list: nobody is listed, but the shell's own
  // pages and local programs still come in.
  ASSERT_EQ(SockHub_Stop(), SOCKHUB_OK);
  config.allowedOrigins.clear();
  ASSERT_EQ(startServer(config), SOCKHUB_OK);
  const std::string own = "http://127.0.0.1:" + std::to_string(SockHub_BoundPort());
  EXPECT_EQ(attempt(SockHub_BoundPort(), "http://192.168.1.65"), 403u);
  EXPECT_EQ(attempt(SockHub_BoundPort(), own), 101u);
  EXPECT_EQ(attempt(SockHub_BoundPort(), ""), 101u);
}

TEST_F(ServerBoundaryTest, AnUnusablePortStartsNothing) {
  ServiceConfig config;
  config.wsPort = -1;
  EXPECT_EQ(startServer(config), SOCKHUB_ERR_INVALID_ARG);
  EXPECT_EQ(SockHub_BoundPort(), 0);
  EXPECT_EQ(SockHub_Stop(), SOCKHUB_ERR_NOT_STARTED);
}

}  // namespace
}  // namespace kestrova
