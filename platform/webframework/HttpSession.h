#pragma once
// One accepted connection: reads requests (keep-alive), routes each to its
// handler and writes the answer piece by piece, so that a file body costs a
// small fixed buffer however large the file is. Anything that is not a
// complete, well-formed request within the idle time (garbage, a half
// request, a header or body over its bound) ends the connection without an
// answer. A file that turns out shorter than announced while it is sent ends
// the connection early, so the client sees a cut transfer, never a complete
// one with wrong bytes.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <memory>
#include <optional>

#include "platform/webframework/Response.h"

namespace webframework {

struct HandlerTable;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(boost::asio::ip::tcp::socket&& socket, const HandlerTable& table, std::shared_ptr<void> slot,
              std::chrono::milliseconds idleTimeout);

  void run();

 private:
  template <class Body>
  struct Outgoing;

  void doRead();
  void onRead(boost::beast::error_code ec, size_t bytes);
  Response callHandler(const boost::beast::http::request<boost::beast::http::string_body>& request, bool& keepAlive);
  void answer(Response response, unsigned version, bool keepAlive);
  template <class Body>
  void writeNext(std::shared_ptr<Outgoing<Body>> outgoing);
  void afterWrite(bool keepAlive);
  void close();

  const HandlerTable& table_;
  const std::chrono::milliseconds idleTimeout_;
  // All of the following are used on the connection's strand only.
  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::shared_ptr<void> slot_;
};

}  // namespace webframework
