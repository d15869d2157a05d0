#include "platform/sockhub/HandshakePolicy.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace sockhub {
namespace {
namespace http = boost::beast::http;

http::request<http::empty_body> upgradeRequest(const char* host, const char* origin = nullptr) {
  http::request<http::empty_body> request{http::verb::get, "/", 11};
  if (host != nullptr) request.set(http::field::host, host);
  request.set(http::field::connection, "Upgrade");
  request.set(http::field::upgrade, "websocket");
  request.set(http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ==");
  request.set(http::field::sec_websocket_version, "13");
  if (origin != nullptr) request.set(http::field::origin, origin);
  return request;
}

TEST(HandshakePolicy, LoopbackHostsWithOrWithoutPortAreAccepted) {
  for (const char* host : {"127.0.0.1", "127.0.0.1:32858", "localhost", "LocalHost:1", "[::1]",
                           "[::1]:65535"}) {
    EXPECT_TRUE(HandshakePolicy::isLoopbackHost(host)) << host;
  }
}

TEST(HandshakePolicy, OtherHostsAreRefused) {
  // Names a rebinding page would carry, look-alikes, and malformed ports.
  for (const char* host : {"", "evil.example", "evil.example:32858", "localhost.", "localhost.evil.example",
                           "127.0.0.2", "127.0.0.1.nip.io", "0.0.0.0", "[::1", "[::2]", "[::1]x",
                           "[::1]:", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:80x",
                           "localhost:123456", "127.0.0.1:80:80", "user@127.0.0.1"}) {
    EXPECT_FALSE(HandshakePolicy::isLoopbackHost(host)) << host;
  }
}

TEST(HandshakePolicy, RequestsAreJudgedByUpgradeHostAndOrigin) {
  const HandshakePolicy open;
  EXPECT_EQ(open.check(upgradeRequest("127.0.0.1:5000")), HandshakePolicy::kAccept);
  EXPECT_EQ(open.check(upgradeRequest("localhost", "http://anything.example")), HandshakePolicy::kAccept);
  EXPECT_EQ(open.check(upgradeRequest("evil.example")), 403u);
  EXPECT_EQ(open.check(upgradeRequest(nullptr)), 400u);

  auto twoHosts = upgradeRequest("127.0.0.1");
  twoHosts.insert(http::field::host, "evil.example");
  EXPECT_EQ(open.check(twoHosts), 400u);

  http::request<http::empty_body> plainGet{http::verb::get, "/", 11};
  plainGet.set(http::field::host, "127.0.0.1");
  EXPECT_EQ(open.check(plainGet), 426u);
  auto post = upgradeRequest("127.0.0.1");
  post.method(http::verb::post);
  EXPECT_EQ(open.check(post), 426u);
}

TEST(HandshakePolicy, AnOriginListAdmitsOnlyItsOrigins) {
  const HandshakePolicy restricted({"http://192.168.1.10", "https://nvr.local:8443"});
  EXPECT_EQ(restricted.check(upgradeRequest("127.0.0.1", "http://192.168.1.10")), HandshakePolicy::kAccept);
  EXPECT_EQ(restricted.check(upgradeRequest("127.0.0.1", "HTTPS://NVR.local:8443")), HandshakePolicy::kAccept);
  EXPECT_EQ(restricted.check(upgradeRequest("127.0.0.1", "http://192.168.1.100")), 403u);
  EXPECT_EQ(restricted.check(upgradeRequest("127.0.0.1", "null")), 403u);
  EXPECT_EQ(restricted.check(upgradeRequest("127.0.0.1")), 403u);
  // The host rule still applies to an allowed origin.
  EXPECT_EQ(restricted.check(upgradeRequest("evil.example", "http://192.168.1.10")), 403u);
}

}  // namespace
}  // namespace sockhub
