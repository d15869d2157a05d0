#pragma once
// A blocking HTTP client for tests: one request per connection to
// 127.0.0.1:<port>, with send and receive time limits on the socket so that a
// server that never answers fails the test instead of hanging it.
#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace webframework::testing {

struct HttpReply {
  bool transferred = false;  // a complete response arrived
  unsigned status = 0;
  std::string body;
  std::string contentType;
  std::string error;  // what went wrong when not transferred
};

inline HttpReply httpRequest(uint16_t port, std::string_view method, std::string_view target,
                             std::optional<std::string> host = std::nullopt, int timeoutSeconds = 10) {
  namespace beast = boost::beast;
  namespace http = beast::http;
  namespace net = boost::asio;
  HttpReply reply;
  try {
    net::io_context ioc;
    net::ip::tcp::socket socket(ioc);
    socket.connect({net::ip::make_address("127.0.0.1"), port});
    timeval limit{timeoutSeconds, 0};
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    http::request<http::empty_body> request;
    request.method_string(method);
    request.target(target);
    request.version(11);
    if (!host) host = "127.0.0.1:" + std::to_string(port);
    if (!host->empty()) request.set(http::field::host, *host);
    request.keep_alive(false);
    http::write(socket, request);

    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(uint64_t{1} << 33);
    http::read(socket, buffer, parser);
    const auto& response = parser.get();
    reply.transferred = true;
    reply.status = response.result_int();
    reply.body = response.body();
    reply.contentType = std::string(response[http::field::content_type]);
  } catch (const std::exception& e) {
    reply.error = e.what();
  }
  return reply;
}

}  // namespace webframework::testing
