#pragma once
// A freshly accepted TCP connection, up to its upgrade request.
//
// Reads one request header within the handshake time-out, asks the
// HandshakePolicy, and either hands the connection to a WebSocketSession or
// answers with the refusal's status and closes. Anything that is not a
// complete, well-formed request in time (garbage, a half request, a header
// block over the bound, a body) ends the connection without an answer.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <memory>
#include <optional>

namespace sockhub {

class HandshakePolicy;
class SharedState;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(SharedState& state, std::shared_ptr<const HandshakePolicy> policy,
              boost::asio::ip::tcp::socket&& socket, std::shared_ptr<void> slot);

  // Starts reading on the connection's strand.
  void run();

 private:
  void doRead();
  void onRead(boost::beast::error_code ec, size_t bytes);
  void refuse(unsigned status, unsigned version);
  void onRefused(boost::beast::error_code ec, size_t bytes);

  SharedState& state_;
  const std::shared_ptr<const HandshakePolicy> policy_;
  boost::beast::tcp_stream stream_;  // strand only
  boost::beast::flat_buffer buffer_;  // strand only
  std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> parser_;  // strand only
  std::shared_ptr<boost::beast::http::response<boost::beast::http::string_body>> refusal_;    // strand only
  std::shared_ptr<void> slot_;
};

}  // namespace sockhub
