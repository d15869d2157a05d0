#pragma once
// Where the shell's outside services live, and how often the upgrade watcher
// asks. The shell reads no configuration file, so each value is a compiled
// default that an environment variable may override; tests point them at
// loopback servers.
//
//   KESTROVA_UPGRADE_SERVER       scheme://host:port of the upgrade service
//   KESTROVA_TOKEN_SERVER         scheme://host:port of the speech token service
//   KESTROVA_TTS_SERVER           scheme://host[:port] of the text-to-speech service
//   KESTROVA_TTS_PROJECT          the account's project identifier (32 hex digits)
//   KESTROVA_UPGRADE_INTERVAL_MS  pause between upgrade attempts and device checks
//
// The compiled hosts are placeholders under ".invalid", a name that never
// resolves: a build that nobody configured fails fast with "name not
// resolved" instead of talking to a stranger's server.
#include <cstdint>
#include <string>

namespace kestrova {

struct ServiceConfig {
  std::string upgradeServer = "http://upgrade.kestrova.invalid:8090";
  std::string tokenServer = "http://speech-token.kestrova.invalid:8090";
  std::string ttsServer = "https://tts.kestrova.invalid";
  std::string ttsProject = "00000000000000000000000000000000";
  int64_t upgradeIntervalMs = 600000;  // ten minutes

  // The defaults above with every variable that is set (and not empty)
  // applied. An interval that is not a positive number keeps the default.
  static ServiceConfig fromEnvironment();
};

}  // namespace kestrova
