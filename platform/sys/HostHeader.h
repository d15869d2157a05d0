#pragma once
// Small text rules both loopback servers (the WebSocket command server and
// the download server) apply to HTTP headers.
#include <string_view>

namespace sys {

// ASCII comparison without regard to case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// The text without leading and trailing blanks and tabs.
std::string_view trimBlanks(std::string_view text);

// True for "127.0.0.1", "localhost" (any case) and "[::1]", each with or
// without ":port" (1..65535). Anything else (another name, an address that
// merely resolves to loopback, a malformed port) is refused: a page of
// another site must not reach a loopback server through DNS rebinding.
bool isLoopbackHost(std::string_view host);

}  // namespace sys
