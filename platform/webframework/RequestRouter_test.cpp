#include "platform/webframework/RequestRouter.h"

#include <gtest/gtest.h>

namespace webframework {
namespace {
namespace http = boost::beast::http;

http::request_header<> header(std::string_view method, std::string_view target, std::vector<std::string> hosts) {
  http::request_header<> h;
  h.method_string(method);
  h.target(target);
  h.version(11);
  for (const std::string& host : hosts) h.insert(http::field::host, host);
  return h;
}

RequestRouter downloadRouter() { return RequestRouter({{"other", "x"}, {"download", "file"}}); }

TEST(RequestRouter, LoopbackHostNames) {
  for (std::string_view host : {"127.0.0.1", "127.0.0.1:8080", "localhost", "LocalHost:1", "[::1]", "[::1]:65535"}) {
    EXPECT_TRUE(RequestRouter::isLoopbackHost(host)) << host;
  }
  for (std::string_view host : {"", "evil.example", "127.0.0.1.evil.example", "localhost.evil.example:80",
                                "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:", "127.0.0.1:80x", "[::1", "[::2]",
                                "[::1]x", "127.0.0.2", "0.0.0.0"}) {
    EXPECT_FALSE(RequestRouter::isLoopbackHost(host)) << host;
  }
}

TEST(RequestRouter, RefusesHostsAndTargetsBeforeAnyHandler) {
  const RequestRouter router = downloadRouter();
  size_t index = 99;
  Request out;
  EXPECT_EQ(router.route(header("GET", "/download/a.jpg", {}), index, out), 400u);
  EXPECT_EQ(router.route(header("GET", "/download/a.jpg", {"127.0.0.1", "127.0.0.1"}), index, out), 400u);
  EXPECT_EQ(router.route(header("GET", "/download/a.jpg", {"attacker.example:31000"}), index, out), 403u);
  EXPECT_EQ(router.route(header("GET", "http://127.0.0.1/download/a.jpg", {"127.0.0.1"}), index, out), 400u);
  EXPECT_EQ(router.route(header("GET", "*", {"127.0.0.1"}), index, out), 400u);
  EXPECT_EQ(router.route(header("GET", "/index.html", {"127.0.0.1"}), index, out), 404u);
  EXPECT_EQ(router.route(header("GET", "/", {"127.0.0.1"}), index, out), 404u);
  EXPECT_EQ(router.route(header("GET", "/downloads/a.jpg", {"127.0.0.1"}), index, out), 404u);
  EXPECT_EQ(index, 99u);
}

TEST(RequestRouter, DecodesThePathParameterAndTheQuery) {
  const RequestRouter router = downloadRouter();
  size_t index = 0;
  Request out;
  ASSERT_EQ(router.route(header("get", "/download/sub%20dir/%E6%97%A5+1.mp4?a=b+c&flag&k%3D=v%26", {" 127.0.0.1:7 "}),
                         index, out),
            RequestRouter::kRouted);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(out.method(), "get");
  EXPECT_EQ(out.param("file"), "sub dir/\xE6\x97\xA5+1.mp4");  // '+' is a plus inside the path
  EXPECT_EQ(out.param("a"), "b c");
  EXPECT_EQ(out.param("flag"), "");
  EXPECT_EQ(out.param("k="), "v&");
  EXPECT_FALSE(out.param("missing").has_value());

  // Parent steps survive routing as they are: refusing them is the handler's
  // business, since only it knows what its parameter names.
  ASSERT_EQ(router.route(header("GET", "/download/%2e%2e/%2E%2E/etc/passwd", {"localhost"}), index, out),
            RequestRouter::kRouted);
  EXPECT_EQ(out.param("file"), "../../etc/passwd");

  // "/download" alone has no path parameter at all.
  ASSERT_EQ(router.route(header("GET", "/download", {"localhost"}), index, out), RequestRouter::kRouted);
  EXPECT_FALSE(out.param("file").has_value());
}

TEST(RequestRouter, BrokenEscapesAndZeroBytesAreRefused) {
  const RequestRouter router = downloadRouter();
  size_t index = 0;
  Request out;
  for (std::string_view target : {"/download/a%00.jpg", "/download/a%4", "/download/a%", "/download/a%zz.jpg",
                                  "/download/a.jpg?x=%0", "/download/a.jpg?%00=1"}) {
    EXPECT_EQ(router.route(header("GET", target, {"127.0.0.1"}), index, out), 400u) << target;
  }
  EXPECT_EQ(RequestRouter::percentDecode("%41%62+c", true), "Ab c");
  EXPECT_EQ(RequestRouter::percentDecode("%41%62+c", false), "Ab+c");
}

}  // namespace
}  // namespace webframework
