// Feeds arbitrary bytes as an HTTP request header to what the two loopback
// servers decide from it before anything else runs: the download server's
// router and the WebSocket server's handshake policy.
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <cstddef>
#include <cstdint>

#include "platform/sockhub/HandshakePolicy.h"
#include "platform/webframework/RequestRouter.h"

namespace http = boost::beast::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  http::request_parser<http::empty_body> parser;
  parser.header_limit(16 * 1024);
  boost::beast::error_code ec;
  parser.put(boost::asio::buffer(data, size), ec);
  if (ec || !parser.is_header_done()) return 0;
  const http::request<http::empty_body>& request = parser.get();

  static const webframework::RequestRouter router(
      {{"download", "file"}, {"demo", "page"}, {"snapshot", "name"}});
  size_t handler = 0;
  webframework::Request routed;
  router.route(request.base(), handler, routed);

  static const sockhub::HandshakePolicy policy({"https://cameras.example", "http://127.0.0.1:8080"});
  policy.check(request);
  return 0;
}
