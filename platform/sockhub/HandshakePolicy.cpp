#include "platform/sockhub/HandshakePolicy.h"

#include <boost/beast/websocket/rfc6455.hpp>

#include "platform/sys/HostHeader.h"

namespace sockhub {
namespace http = boost::beast::http;
using sys::equalsIgnoreCase;
using sys::trimBlanks;

HandshakePolicy::HandshakePolicy(std::vector<std::string> allowedOrigins) {
  for (const std::string& entry : allowedOrigins) {
    std::string_view origin = trimBlanks(entry);
    if (!origin.empty() && origin.back() == '/') origin.remove_suffix(1);
    if (!origin.empty()) allowedOrigins_.emplace_back(origin);
  }
}

bool HandshakePolicy::isLoopbackHost(std::string_view host) { return sys::isLoopbackHost(host); }

bool HandshakePolicy::originAllowed(std::string_view origin) const {
  if (origin.empty()) return false;
  if (ownPort_ != 0) {
    const std::string port = std::to_string(ownPort_);
    if (equalsIgnoreCase(origin, "http://127.0.0.1:" + port) || equalsIgnoreCase(origin, "http://localhost:" + port))
      return true;
  }
  for (const std::string& allowed : allowedOrigins_) {
    if (equalsIgnoreCase(allowed, origin)) return true;
  }
  return false;
}

std::string HandshakePolicy::originOf(const http::request<http::empty_body>& request) {
  const auto it = request.find(http::field::origin);
  return it == request.end() ? std::string() : std::string(trimBlanks(it->value()));
}

unsigned HandshakePolicy::check(const http::request<http::empty_body>& request) const {
  if (!boost::beast::websocket::is_upgrade(request)) return 426;
  if (request.count(http::field::host) != 1) return 400;
  if (!isLoopbackHost(trimBlanks(request[http::field::host]))) return 403;
  const size_t origins = request.count(http::field::origin);
  if (origins == 0) return kAccept;
  const std::string origin = originOf(request);
  if (origins > 1 || origin.empty()) return 403;
  return originAllowed(origin) ? kAccept : kAsk;
}

}  // namespace sockhub
