#include "tools/devsim/DevSimOptions.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace devsim {
namespace {

bool toInt(const std::string& s, long min, long max, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (*end || v < min || v > max) return false;
  out = v;
  return true;
}

}  // namespace

const char* devSimUsage() {
  return "usage: devsim [options]\n"
         "  --port N             command port (default 6060, 0 = any free port)\n"
         "  --media-port N       media port (default 6066, 0 = any free port)\n"
         "  --bind ADDRESS       IPv4 address to listen on (default 127.0.0.1)\n"
         "  --channels N         number of channels, 1-64 (default 4)\n"
         "  --user NAME --password TEXT   the first account (default admin/admin)\n"
         "  --account NAME:PASSWORD[:live]  one more account; 'live' = live video only\n"
         "  --codec LIST         h264 or h265 per channel, comma separated; the last applies to the rest\n"
         "  --audio ulaw|alaw|none   G.711 audio with the video (default ulaw)\n"
         "  --schedule FILE      recording schedule: lines '<channel|*> <YYYY-MM-DD|*> HH:MM-HH:MM [type]'\n"
         "  --max-sessions N     logins at once (default 16)\n"
         "  --max-streams N      media streams at once (default 64)\n"
         "  --loop-seconds N     length of the encoded picture loop, 1-10 (default 2)\n"
         "  --content KIND       pattern (the test picture, default) or scene (camera-like\n"
         "                       pictures at a camera's bit rate, for benchmarks)\n"
         "  --hostile MODE       misbehave on purpose: stall-login, close-login, slow-replies, trickle,\n"
         "                       stall-stream, drop-mid-frame, huge-picture, close-stream, close-download\n"
         "  --print-ports        print 'devsim command=PORT media=PORT' once listening\n"
         "  --verbose            log connections to stderr\n";
}

std::optional<DevSimOptions> parseDevSimArgs(int argc, const char* const* argv, std::string* error) {
  DevSimOptions o;
  auto fail = [error](const std::string& why) -> std::optional<DevSimOptions> {
    if (error) *error = why;
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view opt = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    long n = 0;
    if (opt == "--help" || opt == "-h") return fail(devSimUsage());
    if (opt == "--print-ports") {
      o.printPorts = true;
    } else if (opt == "--verbose") {
      o.verbose = true;
    } else if (!value(v)) {
      return fail("unknown option or missing value: " + std::string(opt));
    } else if (opt == "--port" || opt == "--media-port") {
      if (!toInt(v, 0, 65535, n)) return fail("bad port: " + v);
      (opt == "--port" ? o.commandPort : o.mediaPort) = static_cast<uint16_t>(n);
    } else if (opt == "--bind") {
      o.bindAddress = v;
    } else if (opt == "--channels") {
      if (!toInt(v, 1, 64, n)) return fail("bad channel count: " + v);
      o.channels = static_cast<int>(n);
    } else if (opt == "--user") {
      if (v.empty() || v.size() > 31) return fail("bad user name");
      o.accounts[0].user = v;
    } else if (opt == "--password") {
      if (v.size() > 31) return fail("bad password");
      o.accounts[0].password = v;
    } else if (opt == "--account") {
      Account a;
      const auto c1 = v.find(':');
      if (c1 == std::string::npos || c1 == 0) return fail("bad account: " + v);
      a.user = v.substr(0, c1);
      std::string rest = v.substr(c1 + 1);
      if (rest.size() >= 5 && rest.compare(rest.size() - 5, 5, ":live") == 0) {
        a.liveOnly = true;
        rest.resize(rest.size() - 5);
      }
      a.password = rest;
      if (a.user.size() > 31 || a.password.size() > 31) return fail("bad account: " + v);
      o.accounts.push_back(a);
    } else if (opt == "--codec") {
      std::istringstream in(v);
      std::string item;
      o.h265Channels.clear();
      while (std::getline(in, item, ',')) {
        if (item != "h264" && item != "h265") return fail("bad codec: " + item);
        o.h265Channels.push_back(item == "h265");
      }
      if (o.h265Channels.empty()) return fail("bad codec list");
      while (o.h265Channels.size() < 64) o.h265Channels.push_back(o.h265Channels.back());
    } else if (opt == "--audio") {
      if (v == "ulaw")
        o.audioFormat = 10;
      else if (v == "alaw")
        o.audioFormat = 11;
      else if (v == "none")
        o.audioFormat = 0;
      else
        return fail("bad audio: " + v);
    } else if (opt == "--schedule") {
      std::ifstream f(v);
      if (!f) return fail("cannot read " + v);
      std::stringstream text;
      text << f.rdbuf();
      std::string why;
      auto s = RecordingSchedule::parse(text.str(), &why);
      if (!s) return fail(v + ": " + why);
      o.schedule = *s;
    } else if (opt == "--max-sessions" || opt == "--max-streams") {
      if (!toInt(v, 1, 1024, n)) return fail("bad limit: " + v);
      (opt == "--max-sessions" ? o.maxSessions : o.maxStreams) = static_cast<int>(n);
    } else if (opt == "--content") {
      if (v == "pattern")
        o.content = Content::kPattern;
      else if (v == "scene")
        o.content = Content::kScene;
      else
        return fail("bad content: " + v);
    } else if (opt == "--hostile") {
      const auto mode = hostileModeNamed(v);
      if (!mode) return fail("bad hostile mode: " + v + " (" + hostileModeList() + ")");
      o.hostile = *mode;
    } else if (opt == "--loop-seconds") {
      if (!toInt(v, 1, 10, n)) return fail("bad loop length: " + v);
      o.loopSeconds = static_cast<int>(n);
    } else {
      return fail("unknown option: " + std::string(opt));
    }
  }
  return o;
}

}  // namespace devsim
