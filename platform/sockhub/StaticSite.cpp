#include "platform/sockhub/StaticSite.h"

#include "platform/sys/HostHeader.h"

namespace sockhub {
namespace http = boost::beast::http;

void StaticSite::add(std::string path, std::string contentType, std::string body) {
  files_[std::move(path)] = File{std::move(contentType), std::move(body)};
}

http::response<http::string_body> StaticSite::answer(const http::request<http::empty_body>& request) const {
  http::response<http::string_body> response{http::status::ok, request.version()};
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("X-Frame-Options", "DENY");
  response.set("Content-Security-Policy", "frame-ancestors 'none'");
  response.set("Referrer-Policy", "no-referrer");
  response.keep_alive(false);
  auto fail = [&](http::status status, const char* text) {
    response.result(status);
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.body() = text;
  };
  const bool head = request.method() == http::verb::head;
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find_first_of("?#"));
  if (request.count(http::field::host) != 1) {
    fail(http::status::bad_request, "Bad request.\n");
  } else if (!sys::isLoopbackHost(sys::trimBlanks(request[http::field::host]))) {
    fail(http::status::forbidden, "Forbidden.\n");
  } else if (request.method() != http::verb::get && !head) {
    fail(http::status::method_not_allowed, "Method not allowed.\n");
    response.set(http::field::allow, "GET, HEAD");
  } else if (path == "/" && !rootRedirect_.empty()) {
    fail(http::status::found, "Moved.\n");
    response.set(http::field::location, rootRedirect_);
  } else if (const auto it = files_.find(path); it != files_.end()) {
    response.set(http::field::content_type, it->second.contentType);
    response.body() = it->second.body;
  } else {
    fail(http::status::not_found, "Not found.\n");
  }
  response.prepare_payload();
  if (head) {
    // The length a GET would have, without its body.
    const auto length = response.body().size();
    response.body().clear();
    response.content_length(length);
  }
  return response;
}

}  // namespace sockhub
