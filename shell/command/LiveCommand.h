#pragma once
// "live": one live-view operation on a device's dock, named by
// "LiveCtrl"."type". Creates the dock on the user-interface thread when the
// library asks for it and repeats the operation once.
#include <json/value.h>

#include <string>

#include "shell/command/CommandEnv.h"
#include "shell/command/RequestContext.h"

namespace kestrova {

int handleLive(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);

}  // namespace kestrova
