#pragma once
// "snapshot" and "record": a picture of a channel, and local recording of a
// channel; both tell the page where the file went.
#include <json/value.h>

#include <string>

#include "shell/command/CommandEnv.h"
#include "shell/command/RequestContext.h"

namespace kestrova {

int handleSnapshot(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);
int handleRecord(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);

}  // namespace kestrova
