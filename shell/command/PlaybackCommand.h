#pragma once
// "playback": one operation on a device's playback dock, named by
// "PlaybackCtrl"."type"; the position query answers with the position.
#include <json/value.h>

#include <string>

#include "shell/command/CommandEnv.h"
#include "shell/command/RequestContext.h"

namespace kestrova {

int handlePlayback(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);

}  // namespace kestrova
