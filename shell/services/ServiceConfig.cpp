#include "shell/services/ServiceConfig.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/sys/HostHeader.h"
#include "shell/services/TrustedOrigins.h"

namespace kestrova {
namespace {

void override(const char* name, std::string& value) {
  const char* text = std::getenv(name);
  if (text != nullptr && *text != '\0') value = text;
}

// Drops a trailing '/' so that paths can be appended with their own '/'.
void trimSlash(std::string& url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
}

// KESTROVA_WS_PORT: the default when unset, -1 for a text that is no port.
int32_t portFromEnvironment(int32_t fallback) {
  const char* text = std::getenv("KESTROVA_WS_PORT");
  if (text == nullptr) return fallback;
  const size_t length = std::strlen(text);
  int value = -1;
  const auto [end, ec] = std::from_chars(text, text + length, value);
  if (ec != std::errc() || end != text + length || length == 0 || value < 0 || value > 65535) return -1;
  return value;
}

// A positive number of type T from the variable `name`; `value` is kept when
// the variable is unset, is not a number, or is out of T's range.
template <typename T>
void overridePositive(const char* name, T& value) {
  const char* text = std::getenv(name);
  if (text == nullptr) return;
  const std::string_view view(text);
  T parsed = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), parsed);
  if (error == std::errc() && end == view.data() + view.size() && parsed > 0) value = parsed;
}

}  // namespace

std::vector<std::string> ServiceConfig::parseOriginList(std::string_view text) {
  std::vector<std::string> origins;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view entry = sys::trimBlanks(text.substr(0, comma));
    if (!entry.empty()) origins.emplace_back(entry);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return origins;
}

ServiceConfig ServiceConfig::fromEnvironment() {
  ServiceConfig config;
  override("KESTROVA_UPGRADE_SERVER", config.upgradeServer);
  override("KESTROVA_TOKEN_SERVER", config.tokenServer);
  override("KESTROVA_TTS_SERVER", config.ttsServer);
  override("KESTROVA_TTS_PROJECT", config.ttsProject);
  trimSlash(config.upgradeServer);
  trimSlash(config.tokenServer);
  trimSlash(config.ttsServer);
  overridePositive("KESTROVA_UPGRADE_INTERVAL_MS", config.upgradeIntervalMs);
  overridePositive("KESTROVA_WS_PING_INTERVAL_MS", config.wsPingIntervalMs);
  overridePositive("KESTROVA_WS_IDLE_TIMEOUT_MS", config.wsIdleTimeoutMs);
  overridePositive("KESTROVA_WS_SEND_LIMIT", config.wsSendLimit);
  config.wsPort = portFromEnvironment(config.wsPort);
  config.trustedOriginsFile = TrustedOrigins::defaultPath();
  if (const char* text = std::getenv("KESTROVA_ALLOWED_ORIGINS"); text != nullptr) {
    config.allowedOrigins = parseOriginList(text);
  }
  return config;
}

}  // namespace kestrova
