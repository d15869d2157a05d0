#include "platform/sockhub/HttpSession.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <cstdio>
#include <string>

#include "platform/sockhub/HandshakePolicy.h"
#include "platform/sockhub/SharedState.h"
#include "platform/sockhub/StaticSite.h"
#include "platform/sockhub/WebSocketSession.h"

namespace sockhub {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

namespace {

// A header value from the network, fit for one log line: printable ASCII,
// quotes and backslashes escaped, at most 200 characters.
std::string printable(std::string_view text) {
  std::string out;
  for (const unsigned char c : text.substr(0, 200)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  if (text.size() > 200) out += "...";
  return out;
}

}  // namespace

HttpSession::HttpSession(SharedState& state, std::shared_ptr<const HandshakePolicy> policy,
                         net::ip::tcp::socket&& socket, std::shared_ptr<void> slot)
    : state_(state),
      policy_(std::move(policy)),
      stream_(std::move(socket)),
      questionTimer_(stream_.get_executor()),
      slot_(std::move(slot)) {}

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
  request_ = parser_->release();
  if (!beast::websocket::is_upgrade(request_) && state_.site()) {
    serveFile();
    return;
  }
  const unsigned status = policy_->check(request_);
  if (status == HandshakePolicy::kAccept) {
    upgrade();
  } else if (status == HandshakePolicy::kAsk) {
    ask(HandshakePolicy::originOf(request_));
  } else {
    refuse(status);
  }
}

void HttpSession::ask(const std::string& origin) {
  const SockHubAskOriginFn judge = state_.originJudge();
  questionId_ = judge ? state_.addQuestion(shared_from_this()) : 0;
  if (questionId_ == 0 || state_.stopping()) {
    refuse(403);
    return;
  }
  // Nothing is read while the user thinks; the question has its own
  // deadline, after which the answer is no.
  stream_.expires_never();
  questionTimer_.expires_after(state_.options().originQuestionTimeout);
  questionTimer_.async_wait([self = shared_from_this()](beast::error_code ec) {
    if (ec || self->questionId_ == 0) return;
    self->state_.takeQuestion(self->questionId_);
    self->onAnswer(false, false);
  });
  judge(questionId_, origin.c_str());
}

void HttpSession::answer(bool allow) {
  net::post(stream_.get_executor(), [self = shared_from_this(), allow] {
    if (self->questionId_ == 0) return;  // the deadline came first
    self->onAnswer(allow, true);
  });
}

void HttpSession::onAnswer(bool allow, bool judged) {
  questionId_ = 0;
  questionTimer_.cancel();
  if (allow) {
    upgrade();
  } else {
    refuse(403, !judged);
  }
}

void HttpSession::upgrade() {
  if (state_.stopping()) return;
  int32_t clientPort = 0;
  beast::error_code endpointError;
  const auto peer = stream_.socket().remote_endpoint(endpointError);
  if (!endpointError) clientPort = peer.port();
  stream_.expires_after(state_.options().handshakeTimeout);
  std::make_shared<WebSocketSession>(state_, std::move(stream_), std::move(slot_), clientPort)
      ->run(std::move(request_));
}

void HttpSession::serveFile() {
  const std::shared_ptr<const StaticSite> site = state_.site();
  reply_ = std::make_shared<http::response<http::string_body>>(site->answer(request_));
  writeAndClose();
}

void HttpSession::refuse(unsigned status, bool log) {
  reply_ = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(status), request_.version());
  reply_->set(http::field::content_type, "text/plain");
  if (status == 426) {
    reply_->set(http::field::upgrade, "websocket");
    reply_->body() = "This server speaks WebSocket only.\n";
  } else if (status == 403) {
    reply_->body() = "Forbidden.\n";
    // Who was turned away, for the user who wonders why a page cannot connect.
    if (log)
      std::fprintf(stderr, "kestrova: refused a connection from origin \"%s\" (Host \"%s\")\n",
                 printable(HandshakePolicy::originOf(request_)).c_str(),
                 printable(request_.count(http::field::host) ? request_[http::field::host] : "").c_str());
  } else {
    reply_->body() = "Bad request.\n";
  }
  reply_->keep_alive(false);
  reply_->prepare_payload();
  writeAndClose();
}

void HttpSession::writeAndClose() {
  stream_.expires_after(state_.options().handshakeTimeout);
  http::async_write(stream_, *reply_, beast::bind_front_handler(&HttpSession::onWritten, shared_from_this()));
}

void HttpSession::onWritten(beast::error_code, size_t) {
  beast::error_code ignored;
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  stream_.close();
}

}  // namespace sockhub
