#pragma once
// A plain HTTP/1.1 GET on loopback for tests that fetch what the library
// offers for download.
#include <optional>
#include <string>

namespace kstest {

// GETs an "http://127.0.0.1:<port>/..." address: the body of a 200 answer,
// or nothing on any failure (5 s limits on sending and receiving).
std::optional<std::string> httpGet(const std::string& url);

}  // namespace kstest
