#pragma once
// The "settings" command: places and reads back the device settings that the
// page edits graphically over a live video cell (on-screen text, privacy
// covers, the crossing line, passenger counting, face areas, polygon regions).
//
// The handler turns the request's "settings" object into one
// DeviceSettingsParam, calls the library's settings export with it and, for a
// read back or a text-lattice rendering, writes the reply body from the
// record's result area. Every array it hangs on the record, and every result
// array the library hands back, is freed before it returns, whatever the
// outcome.
#include <json/value.h>

#include <string>

#include "shell/command/CommandEnv.h"
#include "shell/command/RequestContext.h"

namespace kestrova {

// Returns the result code (0 success). Writes `reply` only on success of a
// read back or a lattice rendering; otherwise the dispatcher's standard reply
// carries the code. Runs on the calling command thread; keeps no state.
int handleSettings(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply);

}  // namespace kestrova
