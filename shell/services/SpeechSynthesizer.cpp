#include "shell/services/SpeechSynthesizer.h"

#include <json/value.h>

#include <algorithm>
#include <memory>
#include <new>

#include "platform/sys/Utf.h"
#include "shell/services/AudioTranscoder.h"
#include "shell/services/JsonReply.h"

namespace kestrova {
namespace {

constexpr int kMissingData = 1019;
constexpr int kOutOfMemory = 1002;

// Synthesised speech is a WAV file in base64; a few minutes of it fit well.
constexpr uint64_t kMaxReplyBytes = 64u << 20;

const Json::Value* findMember(const Json::Value& object, const char* key) {
  if (!object.isObject()) return nullptr;
  return object.find(key, key + std::char_traits<char>::length(key));
}

}  // namespace

int synthesizeSpeech(TtsTokenCache& tokens, const ServiceConfig& config, const HttpClient& http,
                     TtsRequest& request) {
  request.audioBase64.clear();
  request.errorCode[0] = '\0';
  try {
    std::string token;
    if (const int result = tokens.currentToken(config, http, token); result != 0) return result;

    std::replace(request.requestJson.begin(), request.requestJson.end(), '\'', '"');

    HttpRequest post;
    post.method = kHttpPost;
    post.url = config.ttsServer + "/v1/" + config.ttsProject + "/tts";
    post.contentTypeHeader = "Content-Type:application/json";
    post.extraHeaders.push_back("X-Auth-Token:" + token);
    post.body = request.requestJson.data();
    post.bodyLength = request.requestJson.size();
    post.failOnError = false;
    post.extraTimeoutMs = 30000;
    post.maxResponseBytes = kMaxReplyBytes;
    std::string body;
    if (const int result = http.perform(post, &body); result != 0) return result;

    Json::Value reply;
    if (!parseJsonReply(body, reply)) return kMissingData;

    if (const Json::Value* code = findMember(reply, "error_code"); code != nullptr) {
      // Services give the code as text or as a number; both are reported as text.
      std::string text;
      if (code->isString()) {
        text = code->asString();
      } else if (code->isNumeric() || code->isBool()) {
        text = code->asString();
      }
      sys::copyUtf8Bounded(request.errorCode, sizeof request.errorCode, text);
    }

    const Json::Value* result = findMember(reply, "result");
    const Json::Value* data = result != nullptr ? findMember(*result, "data") : nullptr;
    if (data == nullptr || !data->isString()) return kMissingData;
    const char* begin = nullptr;
    const char* end = nullptr;
    data->getString(&begin, &end);
    if (begin == end) return kMissingData;
    const std::string_view audio(begin, static_cast<size_t>(end - begin));
    if (request.transcode) return transcodeBase64Wav(audio, request.maxSamples, request.ulaw, request.audioBase64);
    request.audioBase64.assign(audio);
    return 0;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

}  // namespace kestrova
