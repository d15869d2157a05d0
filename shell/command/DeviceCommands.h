#pragma once
// "createDev" and "destroy": a device's creation with its login data and
// menu texts, and its release.
#include <json/value.h>

#include <string>

#include "shell/command/CommandEnv.h"
#include "shell/command/RequestContext.h"

namespace kestrova {

int handleCreateDevice(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);
int handleDestroy(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);

}  // namespace kestrova
