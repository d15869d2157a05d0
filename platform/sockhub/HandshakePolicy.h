#pragma once
// Decides whether an HTTP request may become a WebSocket connection. A pure
// function of the request and the configured origins, so every rule is
// testable without sockets.
//
// The server listens on loopback, but a page from any site can still reach
// it through DNS rebinding (its own name resolving to 127.0.0.1). Such a page
// cannot forge the Host header, so a Host that is not a loopback name is
// refused. Origins are open unless a list is configured.
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace sockhub {

class HandshakePolicy {
 public:
  // The HTTP status of a refusal, or kAccept.
  static constexpr unsigned kAccept = 0;

  // `allowedOrigins` empty: every origin (and none) is accepted.
  explicit HandshakePolicy(std::vector<std::string> allowedOrigins = {});

  // kAccept, 426 for a request that is not a WebSocket upgrade, 400 for a
  // missing or repeated Host, 403 for a Host that is not a loopback name or
  // an origin that is not allowed.
  unsigned check(const boost::beast::http::request<boost::beast::http::empty_body>& request) const;

  // "127.0.0.1", "localhost" (any case) or "[::1]", optionally followed by
  // ":port" with a port number 1..65535.
  static bool isLoopbackHost(std::string_view host);

  bool originAllowed(std::string_view origin) const;

 private:
  std::vector<std::string> allowedOrigins_;  // immutable after construction
};

}  // namespace sockhub
