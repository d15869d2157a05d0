#include "platform/sockhub/HandshakePolicy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

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

TEST(HandshakePolicy, RequestsAreJudgedByUpgradeAndHost) {
  const HandshakePolicy policy;
  EXPECT_EQ(policy.check(upgradeRequest("127.0.0.1:5000")), HandshakePolicy::kAccept);
  EXPECT_EQ(policy.check(upgradeRequest("evil.example")), 403u);
  EXPECT_EQ(policy.check(upgradeRequest(nullptr)), 400u);

  auto twoHosts = upgradeRequest("127.0.0.1");
  twoHosts.insert(http::field::host, "evil.example");
  EXPECT_EQ(policy.check(twoHosts), 400u);

  http::request<http::empty_body> plainGet{http::verb::get, "/", 11};
  plainGet.set(http::field::host, "127.0.0.1");
  EXPECT_EQ(policy.check(plainGet), 426u);
  auto post = upgradeRequest("127.0.0.1");
  post.method(http::verb::post);
  EXPECT_EQ(policy.check(post), 426u);
}

TEST(HandshakePolicy, OriginsAreAcceptedListedOrAskedAbout) {
  const unsigned accept = HandshakePolicy::kAccept;
  const unsigned ask = HandshakePolicy::kAsk;
  struct Case {
    std::vector<std::string> list;
    const char* origin;  // null: no Origin header
    unsigned expected;
  } cases[] = {
      // No origin: a local program. The server's own pages, on its port only.
      {{}, nullptr, accept},
      {{}, "http://127.0.0.1:32858", accept},
      {{}, "http://LOCALHOST:32858", accept},
      {{}, "http://127.0.0.1:32859", ask},
      {{}, "https://127.0.0.1:32858", ask},
      {{}, "http://[::1]:32858", ask},
      // An empty or blank list lists nothing.
      {{}, "http://anything.example", ask},
      {{"", "  ", "/"}, "http://anything.example", ask},
      {{""}, "null", ask},
      // Listed: exactly, without case; a listed trailing slash is dropped.
      {{"http://192.168.1.10", "https://nvr.local:8443"}, "http://192.168.1.10", accept},
      {{"http://192.168.1.10", "https://nvr.local:8443"}, "HTTPS://NVR.local:8443", accept},
      {{"http://192.168.1.10"}, "http://192.168.1.100", ask},
      {{"http://192.168.1.10"}, "http://192.168.1.10:80", ask},
      {{"http://192.168.1.10"}, "http://192.168.1.1", ask},
      {{" https://cams.example/ "}, "https://cams.example", accept},
      {{"https://cams.example"}, "https://cams.example/", ask},
      {{"http://192.168.1.10"}, nullptr, accept},
      // A blank Origin is no origin a browser sends.
      {{}, "", 403},
      {{}, "   ", 403},
  };
  for (const Case& c : cases) {
    HandshakePolicy policy(c.list);
    policy.setOwnPort(32858);
    EXPECT_EQ(policy.check(upgradeRequest("127.0.0.1:32858", c.origin)), c.expected)
        << (c.origin ? c.origin : "(no origin)") << " with " << c.list.size() << " listed";
  }
  // Two Origin headers are refused, listed or not.
  HandshakePolicy listed({"http://a.example"});
  auto twoOrigins = upgradeRequest("127.0.0.1", "http://a.example");
  twoOrigins.insert(http::field::origin, "http://a.example");
  EXPECT_EQ(listed.check(twoOrigins), 403u);
  // The host rule still applies to a listed origin.
  EXPECT_EQ(listed.check(upgradeRequest("evil.example", "http://a.example")), 403u);
}

}  // namespace
}  // namespace sockhub
