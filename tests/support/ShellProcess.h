#pragma once
// The shell program started as a child process for end-to-end tests: on a
// free port, with its own single-instance guard name and its own temporary
// folder, so tests can run shells side by side.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/FreePort.h"

namespace kstest {

class ShellProcess {
 public:
  struct Options {
    std::string instanceName;           // empty: a name unique to this object
    std::string tmpDir;                 // empty: a fresh folder under /tmp
    std::vector<std::string> extraEnv;  // "NAME=value"
    uint16_t port = 0;                  // 0: a free port
    bool captureStderr = false;         // stderr to a file that stderrText() reads
  };

  explicit ShellProcess(Options options);
  ShellProcess() : ShellProcess(Options{}) {}
  ~ShellProcess();  // kills the process if it still runs
  ShellProcess(const ShellProcess&) = delete;
  ShellProcess& operator=(const ShellProcess&) = delete;

  // Starts the program and waits until its WebSocket port accepts
  // connections. False when it did not start serving in time.
  bool start(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Starts it without waiting for the port (for a second instance).
  bool spawn();

  // Waits for the process to end; its wait status, or nothing on time-out.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  bool signal(int sig);
  bool running();

  // What the program wrote to stderr so far (with captureStderr).
  std::string stderrText() const;

  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& tmpDir() const { return tmpDir_; }
  const std::string& instanceName() const { return instanceName_; }

 private:
  Options options_;
  std::string instanceName_;
  std::string tmpDir_;
  std::string stderrPath_;  // beside tmpDir_, so that the shell never touches it
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

}  // namespace kstest
