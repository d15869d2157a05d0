#pragma once
// The routes and handlers of one server, shared by its connections. Filled
// before the server serves and only read afterwards, so it needs no lock.
#include <vector>

#include "platform/webframework/RequestRouter.h"
#include "platform/webframework/Response.h"

namespace webframework {

struct HandlerTable {
  RequestRouter router;
  std::vector<Handler> handlers;  // by route index
};

}  // namespace webframework
