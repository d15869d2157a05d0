#include "shell/services/ServiceConfig.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

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

}  // namespace

ServiceConfig ServiceConfig::fromEnvironment() {
  ServiceConfig config;
  override("KESTROVA_UPGRADE_SERVER", config.upgradeServer);
  override("KESTROVA_TOKEN_SERVER", config.tokenServer);
  override("KESTROVA_TTS_SERVER", config.ttsServer);
  override("KESTROVA_TTS_PROJECT", config.ttsProject);
  trimSlash(config.upgradeServer);
  trimSlash(config.tokenServer);
  trimSlash(config.ttsServer);
  if (const char* text = std::getenv("KESTROVA_UPGRADE_INTERVAL_MS"); text != nullptr) {
    const std::string_view view(text);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error == std::errc() && end == view.data() + view.size() && value > 0) config.upgradeIntervalMs = value;
  }
  return config;
}

}  // namespace kestrova
