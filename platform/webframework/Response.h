#pragma once
// A handler's answer: a status, and a body that is either bytes in memory or
// an open file that the server streams. Only a 2xx answer carries a body the
// handler chose; the server writes a short text for the others.
#include <functional>
#include <string>

#include "platform/webframework/OpenFile.h"
#include "platform/webframework/Request.h"

namespace webframework {

struct Response {
  unsigned status = 200;
  std::string contentType;  // empty: application/octet-stream
  std::string body;         // sent when no file is open
  OpenFile file;            // when open, its contents are the body

  static Response withStatus(unsigned code) {
    Response response;
    response.status = code;
    return response;
  }
};

// A request handler. It runs on the serving thread, one request at a time;
// an exception it throws is answered with 500.
using Handler = std::function<Response(const Request&)>;

}  // namespace webframework
