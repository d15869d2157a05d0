#include "platform/sys/HostHeader.h"

namespace sys {
namespace {

bool isPortText(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isLoopbackHost(std::string_view host) {
  std::string_view name = host;
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !isPortText(rest.substr(1)))) return false;
    return name == "[::1]";
  }
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    name = host.substr(0, colon);
    if (!isPortText(host.substr(colon + 1))) return false;
  }
  return name == "127.0.0.1" || equalsIgnoreCase(name, "localhost");
}

}  // namespace sys
