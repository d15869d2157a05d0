#pragma once
// A devsim child process on free ports, started from the program's own
// directory and ended (SIGTERM, then waited for) with the object.
#include <sys/types.h>

#include <string>
#include <vector>

namespace benchsupport {

class DevsimProcess {
 public:
  DevsimProcess() = default;
  ~DevsimProcess();
  DevsimProcess(const DevsimProcess&) = delete;
  DevsimProcess& operator=(const DevsimProcess&) = delete;

  // Starts devsim with `args` besides the ports and waits for it to report
  // them. False, with a line on stderr, when it does not start.
  bool start(const std::vector<std::string>& args);

  pid_t pid() const { return pid_; }
  unsigned commandPort() const { return commandPort_; }
  unsigned mediaPort() const { return mediaPort_; }

 private:
  pid_t pid_ = 0;
  unsigned commandPort_ = 0;
  unsigned mediaPort_ = 0;
};

}  // namespace benchsupport
