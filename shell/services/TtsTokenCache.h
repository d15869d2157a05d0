#pragma once
// The access token of the cloud speech service, fetched from the token
// service and reused for 23 hours.
//
// Command threads run speech requests side by side, so the cached token and
// its time sit behind one mutex; the fetch itself runs under that mutex too,
// so that concurrent requests after expiry make one fetch, not several.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "shell/services/HttpClient.h"
#include "shell/services/ServiceConfig.h"

namespace kestrova {

class TtsTokenCache {
 public:
  // A token older than this is fetched anew.
  static constexpr int64_t kLifetimeSeconds = 82800;
  // Longer tokens, or tokens with characters that do not belong in a header
  // line, are refused as a reply without the expected data.
  static constexpr size_t kMaxTokenLength = 4096;

  // `clock` answers seconds since 1970; tests pass their own.
  explicit TtsTokenCache(std::function<int64_t()> clock = {});

  // The process's cache, created on first use, living until exit.
  static TtsTokenCache& instance();

  // Makes sure a fresh token is cached and copies it into `token`. 0, the HTTP
  // client's code of a failed fetch, or 1019 when the reply is not JSON or
  // lacks "data"."token"; a failed fetch leaves the cache as it was.
  int currentToken(const ServiceConfig& config, const HttpClient& http, std::string& token);

 private:
  std::function<int64_t()> clock_;  // set once in the constructor
  std::mutex mutex_;
  int64_t fetchedAt_ = 0;  // guarded by mutex_; 0 = never fetched
  std::string token_;      // guarded by mutex_
};

}  // namespace kestrova
