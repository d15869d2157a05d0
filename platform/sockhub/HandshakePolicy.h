#pragma once
// Decides whether an HTTP request may become a WebSocket connection. A pure
// function of the request, the listed origins and the server's own port, so
// every rule is testable without sockets.
//
// The server listens on loopback, but every site the user visits can reach
// it from the browser. A page cannot forge the Host header, so a Host that is
// not a loopback name (DNS rebinding) is refused. The Origin decides the
// rest: none at all (a local program, which runs as the user anyway), the
// server's own pages (http://127.0.0.1:<port>, http://localhost:<port>) and
// the listed origins are accepted; any other origin is a question for the
// user (kAsk). An empty list lists nothing.
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sockhub {

class HandshakePolicy {
 public:
  // The HTTP status of a refusal, or one of these.
  static constexpr unsigned kAccept = 0;
  static constexpr unsigned kAsk = 1;  // an origin nobody listed: ask the user

  // Entries are trimmed, one trailing '/' is dropped (an origin has no
  // path), blank entries are ignored.
  explicit HandshakePolicy(std::vector<std::string> allowedOrigins = {});

  // The port the server bound: its own pages' origins are accepted.
  void setOwnPort(uint16_t port) { ownPort_ = port; }

  // kAccept, kAsk, 426 for a request that is not a WebSocket upgrade, 400
  // for a missing or repeated Host, 403 for a Host that is not a loopback
  // name or a repeated or blank Origin.
  unsigned check(const boost::beast::http::request<boost::beast::http::empty_body>& request) const;

  // "127.0.0.1", "localhost" (any case) or "[::1]", optionally followed by
  // ":port" with a port number 1..65535.
  static bool isLoopbackHost(std::string_view host);

  // Listed or the server's own; compared without case (browsers send the
  // origin in lower case, a list may have been typed in any case).
  bool originAllowed(std::string_view origin) const;

  // The Origin of a request (empty when it has none), for questions and logs.
  static std::string originOf(const boost::beast::http::request<boost::beast::http::empty_body>& request);

 private:
  std::vector<std::string> allowedOrigins_;  // immutable once serving
  uint16_t ownPort_ = 0;                     // set before serving
};

}  // namespace sockhub
