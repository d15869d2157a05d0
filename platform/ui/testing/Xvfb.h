#pragma once
// An Xvfb of its own for a test or a benchmark: it picks a free display and
// writes its number to the pipe given with -displayfd, so nothing guesses a
// display number. The destructor ends the server (SIGTERM, then SIGKILL
// after five seconds) and reaps it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace ui::test {

// The full path of a program on PATH, empty when there is none.
inline std::string findOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

class Xvfb {
 public:
  Xvfb() {
    using namespace std::chrono_literals;
    std::string program = findOnPath("Xvfb");
    if (program.empty()) {
      error_ = "Xvfb is not on PATH; install the xvfb package (scripts/install-deps)";
      return;
    }
    int fds[2];
    if (::pipe(fds) != 0) {
      error_ = "pipe failed";
      return;
    }
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    std::string fd = std::to_string(fds[1]);
    // -noreset: otherwise the server resets when its last client leaves and
    // turns away a client connecting meanwhile.
    const char* argv[] = {program.c_str(), "-displayfd", fd.c_str(), "-screen",  "0",
                          "1920x1080x24",  "-nolisten",  "tcp",      "-noreset", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      pid_ = 0;
      ::close(fds[0]);
      error_ = "cannot start " + program;
      return;
    }
    // The number arrives once the server listens.
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + 15s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[16];
      ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
      error_ = "Xvfb did not announce its display";
      return;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
  }
  ~Xvfb() {
    using namespace std::chrono_literals;
    if (!pid_) return;
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // ":N", empty when the server did not start (error() says why).
  const std::string& display() const { return display_; }
  const std::string& error() const { return error_; }
  // The server's process id, 0 when it did not start.
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
  std::string error_;
};

}  // namespace ui::test
