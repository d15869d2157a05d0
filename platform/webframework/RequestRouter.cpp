#include "platform/webframework/RequestRouter.h"

#include "platform/sys/HostHeader.h"

namespace webframework {
namespace http = boost::beast::http;
using sys::equalsIgnoreCase;
using sys::trimBlanks;
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool RequestRouter::isLoopbackHost(std::string_view host) { return sys::isLoopbackHost(host); }

std::optional<std::string> RequestRouter::percentDecode(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      const char decoded = static_cast<char>(high * 16 + low);
      if (decoded == '\0') return std::nullopt;
      out.push_back(decoded);
      i += 2;
    } else if (c == '+' && plusIsBlank) {
      out.push_back(' ');
    } else if (c == '\0') {
      return std::nullopt;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

unsigned RequestRouter::route(const http::request_header<>& header, size_t& handlerIndex, Request& out) const {
  if (header.count(http::field::host) != 1) return 400;
  if (!isLoopbackHost(trimBlanks(header[http::field::host]))) return 403;

  const std::string_view target = header.target();
  // Only the origin form ("/path?query") is a request to this server; the
  // absolute and authority forms are for proxies.
  if (target.empty() || target.front() != '/') return 400;
  std::string_view path = target;
  std::string_view query;
  if (const size_t mark = target.find('?'); mark != std::string_view::npos) {
    path = target.substr(0, mark);
    query = target.substr(mark + 1);
  }
  if (const size_t hash = query.find('#'); hash != std::string_view::npos) query = query.substr(0, hash);

  path.remove_prefix(1);
  const size_t slash = path.find('/');
  const std::string_view name = path.substr(0, slash);
  size_t index = 0;
  while (index < routes_.size() && routes_[index].name != name) ++index;
  if (index == routes_.size()) return 404;

  Request request(std::string(header.method_string()), std::string(target));
  if (slash != std::string_view::npos) {
    std::optional<std::string> rest = percentDecode(path.substr(slash + 1), false);
    if (!rest) return 400;
    request.addParam(routes_[index].pathParameter, std::move(*rest));
  }
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    std::optional<std::string> key = percentDecode(pair.substr(0, equals), true);
    std::optional<std::string> value =
        percentDecode(equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1), true);
    if (!key || !value) return 400;
    request.addParam(std::move(*key), std::move(*value));
  }
  handlerIndex = index;
  out = std::move(request);
  return kRouted;
}

}  // namespace webframework
