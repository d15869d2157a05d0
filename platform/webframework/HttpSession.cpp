#include "platform/webframework/HttpSession.h"

#include <boost/asio/dispatch.hpp>
#include <boost/beast/core/file_posix.hpp>
#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/http/read.hpp>

#include <optional>

#include "platform/webframework/HandlerTable.h"

namespace webframework {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

namespace {
constexpr uint32_t kHeaderLimit = 8 * 1024;
constexpr uint64_t kBodyLimit = 64 * 1024;
}  // namespace

// A response and its serializer. The serializer is made only once the
// message is complete, because it reads the body's size when it is built.
template <class Body>
struct HttpSession::Outgoing {
  http::response<Body> message;
  std::optional<http::response_serializer<Body>> serializer;
};

HttpSession::HttpSession(net::ip::tcp::socket&& socket, const HandlerTable& table, std::shared_ptr<void> slot,
                         std::chrono::milliseconds idleTimeout)
    : table_(table), idleTimeout_(idleTimeout), stream_(std::move(socket)), slot_(std::move(slot)) {}

void HttpSession::run() {
  net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->doRead(); });
}

void HttpSession::doRead() {
  parser_.emplace();
  parser_->header_limit(kHeaderLimit);
  parser_->body_limit(kBodyLimit);
  stream_.expires_after(idleTimeout_);
  http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t bytes) {
    self->onRead(ec, bytes);
  });
}

void HttpSession::onRead(beast::error_code ec, size_t) {
  if (ec) return close();
  const http::request<http::string_body> request = parser_->release();
  bool keepAlive = request.keep_alive();
  Response response = callHandler(request, keepAlive);
  answer(std::move(response), request.version(), keepAlive);
}

Response HttpSession::callHandler(const http::request<http::string_body>& request, bool& keepAlive) {
  size_t index = 0;
  Request routed;
  const unsigned refusal = table_.router.route(request.base(), index, routed);
  if (refusal != RequestRouter::kRouted) {
    // A refused client gets no second chance on the same connection.
    if (refusal != 404) keepAlive = false;
    return Response::withStatus(refusal);
  }
  try {
    return table_.handlers.at(index)(routed);
  } catch (...) {
    // Nothing a handler throws may leave the serving thread.
    return Response::withStatus(500);
  }
}

void HttpSession::answer(Response response, unsigned version, bool keepAlive) {
  const bool success = response.status >= 200 && response.status < 300;
  const std::string contentType =
      response.contentType.empty() ? std::string("application/octet-stream") : response.contentType;
  if (success && response.file.isOpen()) {
    auto outgoing = std::make_shared<Outgoing<http::file_body>>();
    beast::file_posix file;
    file.native_handle(response.file.release());
    beast::error_code ec;
    outgoing->message.body().reset(std::move(file), ec);
    if (!ec) {
      outgoing->message.result(response.status);
      outgoing->message.version(version);
      outgoing->message.set(http::field::content_type, contentType);
      outgoing->message.keep_alive(keepAlive);
      outgoing->message.prepare_payload();
      return writeNext(std::move(outgoing));
    }
    response = Response::withStatus(500);
  }
  auto outgoing = std::make_shared<Outgoing<http::string_body>>();
  outgoing->message.result(response.status);
  outgoing->message.version(version);
  outgoing->message.keep_alive(keepAlive);
  if (response.status >= 200 && response.status < 300) {
    outgoing->message.set(http::field::content_type, contentType);
    outgoing->message.body() = std::move(response.body);
  }
  outgoing->message.prepare_payload();
  writeNext(std::move(outgoing));
}

template <class Body>
void HttpSession::writeNext(std::shared_ptr<Outgoing<Body>> outgoing) {
  // The idle limit applies to each piece, so a large file may take as long
  // as it needs while a client that stops reading is dropped.
  stream_.expires_after(idleTimeout_);
  Outgoing<Body>& current = *outgoing;
  if (!current.serializer) current.serializer.emplace(current.message);
  http::async_write_some(stream_, *current.serializer,
                         [self = shared_from_this(), outgoing = std::move(outgoing)](beast::error_code ec, size_t) {
                           if (ec) return self->close();
                           if (outgoing->serializer->is_done()) return self->afterWrite(outgoing->message.keep_alive());
                           self->writeNext(outgoing);
                         });
}

void HttpSession::afterWrite(bool keepAlive) {
  if (keepAlive) return doRead();
  beast::error_code ignored;
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  close();
}

void HttpSession::close() {
  beast::error_code ignored;
  stream_.socket().close(ignored);
}

}  // namespace webframework
