#include "shell/services/TtsTokenCache.h"

#include <json/value.h>

#include <ctime>
#include <memory>

#include "shell/services/JsonReply.h"

namespace kestrova {
namespace {

constexpr int kMissingData = 1019;

bool isHeaderSafe(const std::string& token) {
  for (const char c : token) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

}  // namespace

TtsTokenCache::TtsTokenCache(std::function<int64_t()> clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return static_cast<int64_t>(std::time(nullptr)); };
}

TtsTokenCache& TtsTokenCache::instance() {
  static TtsTokenCache cache;
  return cache;
}

int TtsTokenCache::currentToken(const ServiceConfig& config, const HttpClient& http, std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t now = clock_();
  if (fetchedAt_ != 0 && now - fetchedAt_ <= kLifetimeSeconds) {
    token = token_;
    return 0;
  }

  HttpRequest request;
  request.url = config.tokenServer + "/UtilERP/device/tts-token";
  request.extraTimeoutMs = 5000;
  request.maxResponseBytes = 64 * 1024;
  std::string body;
  if (const int result = http.perform(request, &body); result != 0) return result;

  Json::Value document;
  if (!parseJsonReply(body, document)) return kMissingData;
  if (!document.isObject()) return kMissingData;
  const Json::Value* data = document.find("data", "data" + 4);
  if (data == nullptr || !data->isObject()) return kMissingData;
  const Json::Value* value = data->find("token", "token" + 5);
  if (value == nullptr || !value->isString()) return kMissingData;
  std::string fresh = value->asString();
  if (fresh.size() > kMaxTokenLength || !isHeaderSafe(fresh)) return kMissingData;

  token_ = std::move(fresh);
  fetchedAt_ = now;
  token = token_;
  return 0;
}

}  // namespace kestrova
