#include "shell/command/GlobalCommand.h"

#include <cstdint>

#include "plugin/api/ksplugs.h"
#include "shell/command/JsonReading.h"
#include "shell/services/AudioTranscoder.h"
#include "shell/services/HttpClient.h"
#include "shell/services/ServiceConfig.h"
#include "shell/services/SpeechSynthesizer.h"
#include "shell/services/TtsTokenCache.h"

namespace kestrova {
namespace {

constexpr int32_t kSynthesize = 1;
constexpr int32_t kTranscode = 4;

// "total" is an unsigned count; its largest value means no limit, as does
// leaving it out.
int64_t sampleLimit(uint32_t total) { return total == UINT32_MAX ? -1 : static_cast<int64_t>(total); }

int synthesize(RequestContext& context, const Json::Value& global, std::string& audio) {
  const Json::Value* tts = member(global, "tts");
  if (tts != nullptr && !tts->isObject()) return KS_E_INVALID;
  TtsRequest request;
  uint8_t ulaw = 1;
  uint8_t transcode = 0;
  uint32_t total = UINT32_MAX;
  if (tts == nullptr || !readString(*tts, "transParam", request.requestJson)) return KS_E_NO_MEMORY;
  readBool(*tts, "ulaw", ulaw);
  readUInt(*tts, "total", total);
  readBool(*tts, "transcode", transcode);
  request.ulaw = ulaw != 0;
  request.transcode = transcode != 0;
  request.maxSamples = sampleLimit(total);

  const int result = synthesizeSpeech(TtsTokenCache::instance(), ServiceConfig::fromEnvironment(), HttpClient(), request);
  if (result == KS_E_NO_DATA && request.errorCode[0] != '\0') context.extError = request.errorCode;
  audio = std::move(request.audioBase64);
  return result;
}

int transcode(const Json::Value& global, std::string& audio) {
  const Json::Value* format = member(global, "format");
  if (format != nullptr && !format->isObject()) return KS_E_INVALID;
  if (format == nullptr) return KS_E_NO_MEMORY;
  uint8_t inputBase64 = 1;
  readBool(*format, "inputBase64", inputBase64);
  std::string input;
  if (!readString(*format, inputBase64 ? "base64Data" : "path", input)) return KS_E_NO_MEMORY;
  uint8_t ulaw = 0;
  uint32_t total = UINT32_MAX;
  readBool(*format, "ulaw", ulaw);
  readUInt(*format, "total", total);
  return inputBase64 ? transcodeBase64Wav(input, sampleLimit(total), ulaw != 0, audio)
                     : transcodeWavFile(input, sampleLimit(total), ulaw != 0, audio);
}

}  // namespace

int handleGlobalCtrl(RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* global = member(request, "global");
  if (global == nullptr || !global->isObject()) return KS_E_INVALID;
  int32_t type = 0;
  readInt(*global, "type", type);

  std::string audio;
  int result = KS_OK;
  if (type == kSynthesize) {
    result = synthesize(context, *global, audio);
  } else if (type == kTranscode) {
    result = transcode(*global, audio);
  }
  if (result != KS_OK) return result;

  Json::Value document = beginReply(context);
  if (type == kSynthesize || type == kTranscode) document["audio"] = audio;
  reply = writeStyled(document);
  return KS_OK;
}

}  // namespace kestrova
