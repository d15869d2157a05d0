#pragma once
// Files served over plain HTTP on the WebSocket's own port (the shell's
// demo page), from memory: the server reads no file.
//
// Only GET and HEAD (405 otherwise), only with one loopback Host (a page of a
// rebound name gets 403), unknown paths 404, the query ignored. "/" may
// redirect to a configured address. Every answer forbids caching, content
// sniffing and framing by other sites (a framed page of ours could be
// clicked through by the framing site) and closes the connection.
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <map>
#include <string>

namespace sockhub {

class StaticSite {
 public:
  void add(std::string path, std::string contentType, std::string body);
  void setRootRedirect(std::string location) { rootRedirect_ = std::move(location); }
  bool empty() const { return files_.empty() && rootRedirect_.empty(); }

  boost::beast::http::response<boost::beast::http::string_body> answer(
      const boost::beast::http::request<boost::beast::http::empty_body>& request) const;

 private:
  struct File {
    std::string contentType;
    std::string body;
  };
  std::map<std::string, File, std::less<>> files_;  // by path ("/demo/index.html"); immutable once serving
  std::string rootRedirect_;                        // empty: "/" is not found
};

}  // namespace sockhub
