#include "platform/sockhub/StaticSite.h"

#include <gtest/gtest.h>

namespace sockhub {
namespace {
namespace http = boost::beast::http;

http::request<http::empty_body> request(http::verb method, const char* target, const char* host = "127.0.0.1:5000") {
  http::request<http::empty_body> r{method, target, 11};
  if (host != nullptr) r.set(http::field::host, host);
  return r;
}

TEST(StaticSite, AnswersByPathMethodAndHost) {
  StaticSite site;
  site.add("/demo/index.html", "text/html; charset=utf-8", "<p>hi</p>");
  site.add("/demo/demo.js", "text/javascript; charset=utf-8", "let a;");
  site.setRootRedirect("/demo/");
  struct Case {
    http::verb method;
    const char* target;
    const char* host;
    unsigned status;
    const char* body;
  } cases[] = {
      {http::verb::get, "/demo/index.html", "127.0.0.1:5000", 200, "<p>hi</p>"},
      {http::verb::get, "/demo/demo.js?v=2", "localhost:5000", 200, "let a;"},
      {http::verb::get, "/demo/index.html#top", "[::1]:5000", 200, "<p>hi</p>"},
      {http::verb::get, "/", "127.0.0.1:5000", 302, "Moved.\n"},
      {http::verb::get, "/demo/missing.html", "127.0.0.1:5000", 404, "Not found.\n"},
      {http::verb::get, "/demo/../demo/index.html", "127.0.0.1:5000", 404, "Not found.\n"},
      {http::verb::get, "/DEMO/index.html", "127.0.0.1:5000", 404, "Not found.\n"},
      {http::verb::post, "/demo/index.html", "127.0.0.1:5000", 405, "Method not allowed.\n"},
      {http::verb::put, "/", "127.0.0.1:5000", 405, "Method not allowed.\n"},
      {http::verb::get, "/demo/index.html", "evil.example:5000", 403, "Forbidden.\n"},
      {http::verb::get, "/demo/index.html", nullptr, 400, "Bad request.\n"},
  };
  for (const Case& c : cases) {
    const auto response = site.answer(request(c.method, c.target, c.host));
    SCOPED_TRACE(c.target);
    EXPECT_EQ(response.result_int(), c.status);
    EXPECT_EQ(response.body(), c.body);
    EXPECT_EQ(response[http::field::cache_control], "no-store");
    EXPECT_EQ(response["X-Content-Type-Options"], "nosniff");
    EXPECT_EQ(response["Content-Security-Policy"], "frame-ancestors 'none'");
    EXPECT_FALSE(response.keep_alive());
  }
  EXPECT_EQ(site.answer(request(http::verb::get, "/demo/demo.js"))[http::field::content_type],
            "text/javascript; charset=utf-8");
  EXPECT_EQ(site.answer(request(http::verb::get, "/"))[http::field::location], "/demo/");
  EXPECT_EQ(site.answer(request(http::verb::post, "/"))[http::field::allow], "GET, HEAD");
  // HEAD: the length of the GET, no body.
  const auto head = site.answer(request(http::verb::head, "/demo/index.html"));
  EXPECT_EQ(head.result_int(), 200u);
  EXPECT_EQ(head[http::field::content_length], "9");
  EXPECT_TRUE(head.body().empty());
}

TEST(StaticSite, WithoutARedirectTheRootIsNotFound) {
  StaticSite site;
  site.add("/a.css", "text/css", "a{}");
  EXPECT_EQ(site.answer(request(http::verb::get, "/")).result_int(), 404u);
}

}  // namespace
}  // namespace sockhub
