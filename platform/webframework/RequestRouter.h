#pragma once
// Turns a request header into the Request of one registered handler, or into
// the status that refuses it. A pure function of the header and the route
// table, so every refusal is testable without sockets.
//
// The server listens on loopback only, but a page from any site can still
// reach it through DNS rebinding (its own name resolving to 127.0.0.1). Such
// a page cannot forge the Host header, so a Host that is not a loopback name
// is refused before any handler runs.
//
// A target "/<name>/<rest>?<query>" selects the handler registered as
// <name>; <rest>, percent-decoded, becomes the handler's path parameter and
// each query pair one more parameter. Nothing else is served: there is no
// document root.
#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/webframework/Request.h"

namespace webframework {

class RequestRouter {
 public:
  struct Route {
    std::string name;           // first path segment, compared exactly
    std::string pathParameter;  // the parameter that receives the rest of the path
  };

  // The status of a refusal, or kRouted.
  static constexpr unsigned kRouted = 0;

  RequestRouter() = default;
  explicit RequestRouter(std::vector<Route> routes) : routes_(std::move(routes)) {}
  void add(Route route) { routes_.push_back(std::move(route)); }

  // kRouted with `handlerIndex` (into the route table) and `out` filled; 400
  // for a missing or repeated Host, a target that is not a plain path or an
  // undecodable escape; 403 for a Host that is not a loopback name; 404 when
  // no handler has the name.
  unsigned route(const boost::beast::http::request_header<>& header, size_t& handlerIndex, Request& out) const;

  // "127.0.0.1", "localhost" (any case) or "[::1]", optionally followed by
  // ":port" with a port number 1..65535.
  static bool isLoopbackHost(std::string_view host);

  // Decodes %XX escapes (and '+' as a blank when asked). None for a broken
  // escape or an escape that yields a zero byte: no parameter may cut a path
  // short or smuggle a terminator.
  static std::optional<std::string> percentDecode(std::string_view text, bool plusIsBlank);

 private:
  std::vector<Route> routes_;  // fixed once the server serves
};

}  // namespace webframework
