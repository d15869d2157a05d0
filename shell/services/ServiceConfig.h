#pragma once
// Where the shell's outside services live, how often the upgrade watcher
// asks, and how the page's WebSocket server is set up. The shell reads no
// configuration file, so each value is a compiled default that an environment
// variable may override; tests point them at loopback servers. This is the
// one place that reads these variables: the libraries below the shell get
// their values passed in.
//
//   KESTROVA_WS_PORT              port of the WebSocket command server
//   KESTROVA_ALLOWED_ORIGINS      comma-separated origins trusted without asking
//   XDG_CONFIG_HOME, HOME         where the user's file of trusted origins lives
//   KESTROVA_UPGRADE_SERVER       scheme://host:port of the upgrade service
//   KESTROVA_TOKEN_SERVER         scheme://host:port of the speech token service
//   KESTROVA_TTS_SERVER           scheme://host[:port] of the text-to-speech service
//   KESTROVA_TTS_PROJECT          the account's project identifier (32 hex digits)
//   KESTROVA_UPGRADE_INTERVAL_MS  pause between upgrade attempts and device checks
//   KESTROVA_WS_PING_INTERVAL_MS  how often the server pings each connection
//   KESTROVA_WS_IDLE_TIMEOUT_MS   silence after which a connection is cut
//   KESTROVA_WS_SEND_LIMIT        bytes of output one connection may have queued
//
// The compiled hosts are placeholders under ".invalid", a name that never
// resolves: a build that nobody configured fails fast with "name not
// resolved" instead of talking to a stranger's server.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

struct ServiceConfig {
  std::string upgradeServer = "http://upgrade.kestrova.invalid:8090";
  std::string tokenServer = "http://speech-token.kestrova.invalid:8090";
  std::string ttsServer = "https://tts.kestrova.invalid";
  std::string ttsProject = "00000000000000000000000000000000";
  int64_t upgradeIntervalMs = 600000;  // ten minutes
  // -1 when KESTROVA_WS_PORT is set to anything but a number 0..65535 (the
  // empty text included): the shell then ends with exit status 3. 0 picks a
  // free port.
  int32_t wsPort = 32858;
  // The WebSocket server's keep-alive and output bound (see
  // SockHubGlobalParam); tests shorten and shrink them.
  int32_t wsPingIntervalMs = 30000;
  int32_t wsIdleTimeoutMs = 60000;
  uint32_t wsSendLimit = 8u << 20;
  // Origins trusted without asking. Empty (the variable unset, or without
  // any entry): none but the shell's own pages; others are asked about.
  std::vector<std::string> allowedOrigins;
  // The user's file of trusted origins (empty: none).
  std::string trustedOriginsFile;

  // The defaults above with every variable that is set applied. An empty
  // service address or project keeps its default, and so does an interval
  // or a limit that is not a positive number of its type.
  static ServiceConfig fromEnvironment();

  // The entries of a comma-separated origin list, without the blanks around
  // them; empty entries are skipped.
  static std::vector<std::string> parseOriginList(std::string_view text);
};

}  // namespace kestrova
