#pragma once
// "globalCtrl": requests that concern no device. Type 1 synthesises speech
// through the cloud service, type 4 transcodes a WAV (base64 text or a local
// path) into 8 kHz companded samples; both answer the audio as base64 in
// "audio". Any other type does nothing and succeeds.
#include <json/value.h>

#include <string>

#include "shell/command/RequestContext.h"

namespace kestrova {

// Writes its own reply on success (the standard reply plus "audio" for types
// 1 and 4). On 1019 with an error code from the speech service, the code goes
// to context.extError. Returns the result code. Blocks the calling command
// thread for the whole service call (up to two HTTP requests).
int handleGlobalCtrl(RequestContext& context, const Json::Value& request, std::string& reply);

}  // namespace kestrova
