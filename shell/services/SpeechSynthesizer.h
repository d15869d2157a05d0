#pragma once
// Speech for the devices' loudspeaker from the cloud text-to-speech service:
// a token from the token cache, one POST with the page's request body, and
// the synthesised WAV returned as base64, as delivered or transcoded to 8 kHz
// companded samples.
#include <cstdint>
#include <string>

#include "shell/services/HttpClient.h"
#include "shell/services/ServiceConfig.h"
#include "shell/services/TtsTokenCache.h"

namespace kestrova {

struct TtsRequest {
  // The request body for the cloud service, prepared by the page. Apostrophes
  // are turned into double quotes before sending: pages write the JSON with
  // single quotes to embed it in their own JSON text.
  std::string requestJson;
  int64_t maxSamples = -1;  // transcoded output limit; < 0 means none
  bool transcode = false;
  bool ulaw = true;  // true μ-law, false A-law
  std::string audioBase64;  // out
  // Out: the service's "error_code" text, cut to fit with its terminator.
  char errorCode[32] = {};
};

// 0 with `audioBase64` filled; the token or HTTP code of a failed request;
// 1019 when the reply is not JSON or has no "result"."data" (with
// `errorCode` set when the reply names one); the transcoder's codes.
int synthesizeSpeech(TtsTokenCache& tokens, const ServiceConfig& config, const HttpClient& http,
                     TtsRequest& request);

}  // namespace kestrova
