#pragma once
// "recordQuery" (validated, then answered by the library, which serves no
// record queries) and "download" (start, poll and interrupt a download of a
// recorded time span).
#include <json/value.h>

#include <string>

#include "shell/command/CommandEnv.h"
#include "shell/command/RequestContext.h"

namespace kestrova {

int handleRecordQuery(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);
int handleDownload(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);

}  // namespace kestrova
