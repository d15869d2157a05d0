#include "platform/sockhub/HandshakePolicy.h"

#include <boost/beast/websocket/rfc6455.hpp>

#include <cstdlib>

namespace sockhub {
namespace http = boost::beast::http;
namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isPortText(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace

HandshakePolicy::HandshakePolicy(std::vector<std::string> allowedOrigins)
    : allowedOrigins_(std::move(allowedOrigins)) {}

HandshakePolicy HandshakePolicy::fromEnvironment() {
  const char* text = std::getenv("KESTROVA_ALLOWED_ORIGINS");
  return HandshakePolicy(text == nullptr ? std::vector<std::string>{} : parseOriginList(text));
}

std::vector<std::string> HandshakePolicy::parseOriginList(std::string_view text) {
  std::vector<std::string> origins;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view entry = trimBlanks(text.substr(0, comma));
    if (!entry.empty()) origins.emplace_back(entry);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return origins;
}

bool HandshakePolicy::isLoopbackHost(std::string_view host) {
  std::string_view name = host;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (!isPortText(port)) return false;
    }
    return name == "[::1]";
  }
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
    if (!isPortText(port)) return false;
  }
  return name == "127.0.0.1" || equalsIgnoreCase(name, "localhost");
}

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
