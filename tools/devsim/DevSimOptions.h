#pragma once
// The device simulator's settings and their command line.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/devsim/EncodedLoop.h"
#include "tools/devsim/HostileMode.h"
#include "tools/devsim/RecordingSchedule.h"

namespace devsim {

struct Account {
  std::string user;
  std::string password;
  bool liveOnly = false;  // may watch live video only: no playback, records or talk
};

struct DevSimOptions {
  std::string bindAddress = "127.0.0.1";
  uint16_t commandPort = 6060;  // 0 picks a free port
  uint16_t mediaPort = 6066;
  int channels = 4;
  std::vector<Account> accounts{{"admin", "admin", false}};
  std::vector<bool> h265Channels;  // per channel; channels beyond the list use H.264
  uint8_t audioFormat = 10;        // wire format code of the G.711 audio; 0 for none
  RecordingSchedule schedule = RecordingSchedule::defaults();
  int maxSessions = 16;
  int maxStreams = 64;
  int loopSeconds = 2;
  Content content = Content::kPattern;  // what the pictures show
  HostileMode hostile = HostileMode::kNone;  // misbehaves on purpose, for tests
  bool printPorts = false;
  bool verbose = false;

  bool isH265(int channel) const {
    return channel >= 0 && static_cast<size_t>(channel) < h265Channels.size() && h265Channels[channel];
  }
};

// Reads the command line (argv[0] is skipped). Nothing, and the reason in
// *error, for an unknown option or a bad value; `--help` answers nothing with
// the usage text in *error.
std::optional<DevSimOptions> parseDevSimArgs(int argc, const char* const* argv, std::string* error);
const char* devSimUsage();

}  // namespace devsim
