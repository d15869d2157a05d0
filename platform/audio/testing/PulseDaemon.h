#pragma once
// Tests only: a private PulseAudio daemon in a fresh temporary folder, with
// two null sinks, "spk" (what is played is read back from "spk.monitor") and
// "mic" (a tone written into it is heard on "mic.monitor", which serves as
// the microphone). While it lives, PULSE_SERVER points this process's
// libpulse clients at its socket; the earlier value comes back after.
#include <sys/types.h>

#include <optional>
#include <string>

namespace audio::testing {

class PulseDaemon {
 public:
  // Starts the daemon and waits (polling, at most 15 s) until its socket
  // takes connections. ok() tells whether it did; why() says what failed.
  PulseDaemon();
  ~PulseDaemon();
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }
  const std::string& folder() const { return folder_; }
  // "unix:<folder>/pa.sock".
  std::string server() const;

  // Ends the daemon at once (SIGKILL), as a crashing server would go.
  void kill();
  // Runs pactl against this daemon; answers its standard output, or nullopt
  // when it did not succeed.
  std::optional<std::string> pactl(const std::string& arguments) const;
  // Streams the daemon has open: "sink-inputs" (playback) or
  // "source-outputs" (recording); -1 when pactl fails.
  int count(const std::string& what) const;

 private:
  std::string folder_;
  pid_t pid_ = -1;
  bool ok_ = false;
  std::string why_;
  std::optional<std::string> previousServer_;
};

}  // namespace audio::testing
