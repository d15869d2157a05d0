#include "platform/sockhub/HttpSession.h"

#include <boost/asio/dispatch.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "platform/sockhub/HandshakePolicy.h"
#include "platform/sockhub/SharedState.h"
#include "platform/sockhub/WebSocketSession.h"

namespace sockhub {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

HttpSession::HttpSession(SharedState& state, std::shared_ptr<const HandshakePolicy> policy,
                         net::ip::tcp::socket&& socket, std::shared_ptr<void> slot)
    : state_(state), policy_(std::move(policy)), stream_(std::move(socket)), slot_(std::move(slot)) {}

void HttpSession::run() {
  net::dispatch(stream_.get_executor(), beast::bind_front_handler(&HttpSession::doRead, shared_from_this()));
}

void HttpSession::doRead() {
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(state_.options().maxRequestHeaderBytes));
  parser_->body_limit(0);
  // The whole request must arrive within the time-out: a peer that sends a
  // byte now and then cannot keep the connection (and its slot) forever.
  stream_.expires_after(state_.options().handshakeTimeout);
  http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::onRead, shared_from_this()));
}

void HttpSession::onRead(beast::error_code ec, size_t) {
  if (ec) return;  // closed, timed out or malformed: the socket closes with the session
  http::request<http::empty_body> request = parser_->release();
  const unsigned status = policy_->check(request);
  if (status != HandshakePolicy::kAccept) {
    refuse(status, request.version());
    return;
  }
  if (state_.stopping()) return;
  int32_t clientPort = 0;
  beast::error_code endpointError;
  const auto peer = stream_.socket().remote_endpoint(endpointError);
  if (!endpointError) clientPort = peer.port();
  std::make_shared<WebSocketSession>(state_, std::move(stream_), std::move(slot_), clientPort)
      ->run(std::move(request));
}

void HttpSession::refuse(unsigned status, unsigned version) {
  refusal_ = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(status), version);
  refusal_->set(http::field::content_type, "text/plain");
  if (status == 426) {
    refusal_->set(http::field::upgrade, "websocket");
    refusal_->body() = "This server speaks WebSocket only.\n";
  } else if (status == 403) {
    refusal_->body() = "Forbidden.\n";
  } else {
    refusal_->body() = "Bad request.\n";
  }
  refusal_->keep_alive(false);
  refusal_->prepare_payload();
  stream_.expires_after(state_.options().handshakeTimeout);
  http::async_write(stream_, *refusal_, beast::bind_front_handler(&HttpSession::onRefused, shared_from_this()));
}

void HttpSession::onRefused(beast::error_code, size_t) {
  beast::error_code ignored;
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  stream_.close();
}

}  // namespace sockhub
