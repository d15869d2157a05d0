#include "platform/sockhub/HandshakePolicy.h"

#include <boost/beast/websocket/rfc6455.hpp>

#include "platform/sys/HostHeader.h"

namespace sockhub {
namespace http = boost::beast::http;
using sys::equalsIgnoreCase;
using sys::trimBlanks;

HandshakePolicy::HandshakePolicy(std::vector<std::string> allowedOrigins)
    : allowedOrigins_(std::move(allowedOrigins)) {}

bool HandshakePolicy::isLoopbackHost(std::string_view host) { return sys::isLoopbackHost(host); }

bool HandshakePolicy::originAllowed(std::string_view origin) const {
  if (allowedOrigins_.empty()) return true;
  // Browsers serialise the origin in lower case, but a configured entry may
  // have been typed in any case; scheme and host compare without case.
  for (const std::string& allowed : allowedOrigins_) {
    if (equalsIgnoreCase(allowed, origin)) return true;
  }
  return false;
}

unsigned HandshakePolicy::check(const http::request<http::empty_body>& request) const {
  if (!boost::beast::websocket::is_upgrade(request)) return 426;
  if (request.count(http::field::host) != 1) return 400;
  if (!isLoopbackHost(trimBlanks(request[http::field::host]))) return 403;
  if (!allowedOrigins_.empty()) {
    // With a list configured, a request must name one of its origins; a
    // missing or repeated Origin is not an allowed one.
    if (request.count(http::field::origin) != 1) return 403;
    if (!originAllowed(trimBlanks(request[http::field::origin]))) return 403;
  }
  return kAccept;
}

}  // namespace sockhub
