#include "shell/services/HttpClient.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "tests/support/TestHttpServer.h"

namespace kestrova {
namespace {

using kstest::TestHttpServer;
namespace http = boost::beast::http;
using namespace std::chrono_literals;

// libcurl's global state lives as long as the test program, as it lives as
// long as the shell.
class CurlEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { curl_global_init(CURL_GLOBAL_ALL); }
  void TearDown() override { curl_global_cleanup(); }
};
[[maybe_unused]] ::testing::Environment* const kCurl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

// Runs `work` on its own thread and fails instead of hanging when it takes
// longer than the watchdog allows.
template <typename F>
auto withWatchdog(F work, std::chrono::seconds limit = 20s) {
  auto future = std::async(std::launch::async, std::move(work));
  if (future.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "watchdog expired";
    std::abort();
  }
  return future.get();
}

TEST(HttpClient, GetReturnsTheBodyAndSendsTheContentType) {
  TestHttpServer server([](const TestHttpServer::Request& r) {
    return TestHttpServer::reply(200, std::string(r.target()) == "/empty" ? "" : "<a>hello</a>");
  });
  HttpRequest request;
  request.url = server.url() + "/x?y=1";
  std::string body = "stale";
  EXPECT_EQ(0, HttpClient().perform(request, &body));
  EXPECT_EQ("<a>hello</a>", body);
  const auto seen = server.requests();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(http::verb::get, seen[0].method());
  EXPECT_EQ("/x?y=1", seen[0].target());
  EXPECT_EQ("application/xml", seen[0][http::field::content_type]);

  request.url = server.url() + "/empty";
  EXPECT_EQ(0, HttpClient().perform(request, &body));
  EXPECT_TRUE(body.empty());
}

TEST(HttpClient, ErrorStatusesMapToResultCodes) {
  TestHttpServer server([](const TestHttpServer::Request& r) {
    const unsigned status = static_cast<unsigned>(std::stoi(std::string(r.target()).substr(1)));
    return TestHttpServer::reply(status, "{\"error_code\":\"E1\"}");
  });
  const std::pair<unsigned, int> table[] = {{401, 3001}, {404, 1001}, {501, 1001}, {500, 1019},
                                            {403, 1007}, {400, 1007}, {503, 1007}, {200, 0}};
  for (const auto& [status, expected] : table) {
    HttpRequest request;
    request.url = server.url() + "/" + std::to_string(status);
    std::string body;
    EXPECT_EQ(expected, HttpClient().perform(request, &body)) << status;
    if (expected != 0) {
      EXPECT_TRUE(body.empty()) << "a failed request hands back no body";
    }
  }
  // Without fail-on-error any status is a completed transfer with its body.
  HttpRequest request;
  request.url = server.url() + "/500";
  request.failOnError = false;
  std::string body;
  EXPECT_EQ(0, HttpClient().perform(request, &body));
  EXPECT_EQ("{\"error_code\":\"E1\"}", body);
}

TEST(HttpClient, PostPutAndDeleteSendTheirMethodHeadersAndBody) {
  TestHttpServer server([](const TestHttpServer::Request&) { return TestHttpServer::reply(200, "ok"); });
  const std::string payload = "{\"text\":\"hi\"}";

  HttpRequest post;
  post.method = kHttpPost;
  post.url = server.url() + "/post";
  post.contentTypeHeader = "Content-Type:application/json";
  post.extraHeaders = {"X-Auth-Token:abc", "X-Second: two"};
  post.body = payload.data();
  post.bodyLength = payload.size();
  std::string body;
  EXPECT_EQ(0, HttpClient().perform(post, &body));
  EXPECT_EQ("ok", body);

  HttpRequest put = post;
  put.method = kHttpPut;
  put.url = server.url() + "/put";
  EXPECT_EQ(0, HttpClient().perform(put));

  HttpRequest remove;
  remove.method = kHttpDelete;
  remove.url = server.url() + "/delete";
  EXPECT_EQ(0, HttpClient().perform(remove));

  const auto seen = server.requests();
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(http::verb::post, seen[0].method());
  EXPECT_EQ(payload, seen[0].body());
  EXPECT_EQ("application/json", seen[0][http::field::content_type]);
  EXPECT_EQ("abc", seen[0]["X-Auth-Token"]);
  EXPECT_EQ("two", seen[0]["X-Second"]);
  EXPECT_EQ(seen[0].end(), seen[0].find(http::field::expect));

  EXPECT_EQ(http::verb::put, seen[1].method());
  EXPECT_EQ(payload, seen[1].body());
  EXPECT_EQ(seen[1].end(), seen[1].find("X-Auth-Token")) << "extra headers go with POST only";

  EXPECT_EQ(http::verb::delete_, seen[2].method());
  EXPECT_TRUE(seen[2].body().empty());
}

TEST(HttpClient, UnknownMethodSucceedsWithoutARequest) {
  TestHttpServer server([](const TestHttpServer::Request&) { return TestHttpServer::reply(200, "x"); });
  HttpRequest request;
  request.method = 5;
  request.url = server.url();
  std::string body = "stale";
  EXPECT_EQ(0, HttpClient().perform(request, &body));
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(0u, server.connections());
}

TEST(HttpClient, HeaderLinesWithLineBreaksAreRefusedBeforeConnecting) {
  TestHttpServer server([](const TestHttpServer::Request&) { return TestHttpServer::reply(200, "x"); });
  HttpRequest request;
  request.method = kHttpPost;
  request.url = server.url();
  request.extraHeaders = {"X-Auth-Token:abc\r\nX-Injected: 1"};
  EXPECT_EQ(1013, HttpClient().perform(request));
  EXPECT_EQ(0u, server.connections());
}

TEST(HttpClient, DownloadGoesIntoTheFileAndSizeLimitsHold) {
  const std::string payload(100000, 'p');
  TestHttpServer server([&](const TestHttpServer::Request&) { return TestHttpServer::reply(200, payload, "application/octet-stream"); });
  FILE* file = std::tmpfile();
  ASSERT_NE(nullptr, file);
  HttpRequest request;
  request.url = server.url() + "/package";
  request.outputFd = fileno(file);
  std::string body = "stale";
  EXPECT_EQ(0, HttpClient().perform(request, &body));
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(static_cast<off_t>(payload.size()), ::lseek(fileno(file), 0, SEEK_END));
  std::fclose(file);

  // A body beyond the caller's limit ends the transfer, in memory or on disk.
  request.outputFd = -1;
  request.maxResponseBytes = 1000;
  EXPECT_EQ(1002, HttpClient().perform(request, &body));
  EXPECT_TRUE(body.empty());
}

TEST(HttpClient, TransportFailuresMapToResultCodes) {
  // A port that nobody listens on: bind one, then let it go.
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address));
  socklen_t length = sizeof address;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  const int closedPort = ntohs(address.sin_port);
  ::close(probe);

  HttpRequest request;
  request.connectTimeoutMs = 2000;
  request.extraTimeoutMs = 2000;
  request.url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
  EXPECT_EQ(3002, withWatchdog([&] { return HttpClient().perform(request); }));

  request.url = "http://no-such-host.kestrova.invalid/";
  EXPECT_EQ(1003, withWatchdog([&] { return HttpClient().perform(request); }));

  request.url = "file:///etc/hostname";
  EXPECT_EQ(1013, HttpClient().perform(request)) << "only web protocols";

  // A server that accepts and closes without a byte: an empty reply.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  address.sin_port = 0;
  ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, ::listen(listener, 4));
  length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread closer([listener] {
    char buffer[4096];
    const int client = ::accept(listener, nullptr, nullptr);
    if (client >= 0) {
      (void)::recv(client, buffer, sizeof buffer, 0);
      ::close(client);
    }
  });
  request.url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  EXPECT_EQ(1005, withWatchdog([&] { return HttpClient().perform(request); }));
  closer.join();
  ::close(listener);
}

TEST(HttpClient, SilentServerTimesOutOrIsCancelled) {
  TestHttpServer silent({});
  HttpRequest request;
  request.url = silent.url() + "/";
  request.connectTimeoutMs = 200;
  request.extraTimeoutMs = 300;
  EXPECT_EQ(1014, withWatchdog([&] { return HttpClient().perform(request); }));

  // Without time-outs only the cancel flag ends the wait.
  std::atomic<bool> cancel{false};
  request.extraTimeoutMs = -1;
  auto pending = std::async(std::launch::async, [&] { return HttpClient(&cancel).perform(request); });
  EXPECT_EQ(std::future_status::timeout, pending.wait_for(300ms)) << "no time-out may apply";
  cancel.store(true);
  ASSERT_EQ(std::future_status::ready, pending.wait_for(20s));
  EXPECT_EQ(1013, pending.get());
}

}  // namespace
}  // namespace kestrova
