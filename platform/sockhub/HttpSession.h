#pragma once
// A freshly accepted TCP connection, up to its upgrade request.
//
// Reads one request header within the handshake time-out. A plain request
// gets the server's static files when it has any. An upgrade request is
// judged by the HandshakePolicy: accepted, it becomes a WebSocketSession;
// with an origin nobody listed, the judge is asked and the connection waits
// for the answer (bounded); refused, it gets the refusal's status. Either
// way the connection closes after a plain answer. Anything that is not a
// complete, well-formed request in time (garbage, a half request, a header
// block over the bound, a body) ends the connection without an answer.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
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
  // The judge's answer about the request's origin (any thread).
  void answer(bool allow);

 private:
  void doRead();
  void onRead(boost::beast::error_code ec, size_t bytes);
  void ask(const std::string& origin);
  // `judged`: the judge said no and told the user why; otherwise the
  // refusal is logged here.
  void onAnswer(bool allow, bool judged);
  void upgrade();
  void serveFile();
  void refuse(unsigned status, bool log = true);
  void writeAndClose();
  void onWritten(boost::beast::error_code ec, size_t bytes);

  SharedState& state_;
  const std::shared_ptr<const HandshakePolicy> policy_;
  boost::beast::tcp_stream stream_;  // strand only
  boost::beast::flat_buffer buffer_;  // strand only
  std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> parser_;  // strand only
  boost::beast::http::request<boost::beast::http::empty_body> request_;                      // strand only
  std::shared_ptr<boost::beast::http::response<boost::beast::http::string_body>> reply_;       // strand only
  boost::asio::steady_timer questionTimer_;  // strand only: the judge's deadline
  int32_t questionId_ = 0;                    // strand only: 0 when no question is open
  std::shared_ptr<void> slot_;
};

}  // namespace sockhub
