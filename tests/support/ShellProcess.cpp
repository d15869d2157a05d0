#include "tests/support/ShellProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "shell/app/ExitCode.h"

extern char** environ;

namespace kstest {
namespace {

bool canConnect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

std::atomic<int> sequence{0};

}  // namespace

ShellProcess::ShellProcess(Options options) : options_(std::move(options)) {
  const std::string unique = std::to_string(getpid()) + "_" + std::to_string(sequence++);
  instanceName_ = options_.instanceName.empty() ? "KestrovaTest_" + unique : options_.instanceName;
  if (options_.tmpDir.empty()) {
    tmpDir_ = (std::filesystem::temp_directory_path() / ("kestrova_test_" + unique)).string();
    std::filesystem::create_directories(tmpDir_);
  } else {
    tmpDir_ = options_.tmpDir;
  }
  stderrPath_ = tmpDir_ + ".stderr";
}

ShellProcess::~ShellProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (options_.tmpDir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(tmpDir_, ec);
  }
  if (options_.captureStderr) ::unlink(stderrPath_.c_str());
}

std::string ShellProcess::stderrText() const {
  std::ifstream in(stderrPath_);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool ShellProcess::spawn() {
  port_ = options_.port != 0 ? options_.port : freeTcpPort();
  const std::string program = std::string(KESTROVA_TEST_BIN_DIR) + "/kestrova";
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("KESTROVA_", 0) == 0 || entry.rfind("TMPDIR=", 0) == 0) continue;
    env.push_back(entry);
  }
  env.push_back("KESTROVA_WS_PORT=" + std::to_string(port_));
  env.push_back("KESTROVA_INSTANCE_NAME=" + instanceName_);
  env.push_back("TMPDIR=" + tmpDir_);
  // The shell under test draws on the in-memory desktop, whatever display
  // the developer's session has, unless the test asks for another one.
  const bool uiChosen = std::any_of(options_.extraEnv.begin(), options_.extraEnv.end(),
                                    [](const std::string& e) { return e.rfind("KESTROVA_UI=", 0) == 0; });
  if (!uiChosen) env.push_back("KESTROVA_UI=headless");
  for (const std::string& extra : options_.extraEnv) env.push_back(extra);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  reaped_ = false;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (options_.captureStderr) {
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  const bool spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return spawned;
}

bool ShellProcess::start(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // A port that was free a moment ago may be taken by another test's server
  // before the shell binds it: the shell then ends with its "port held"
  // status, and a port of our own choosing is chosen again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (!spawn()) return false;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!running()) break;
      if (canConnect(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool portHeld = reaped_ && WIFEXITED(status_) && WEXITSTATUS(status_) == kestrova::kExitNoServer;
    if (!portHeld || options_.port != 0 || std::chrono::steady_clock::now() >= deadline) return false;
  }
  return false;
}

std::optional<int> ShellProcess::wait(std::chrono::milliseconds timeout) {
  if (reaped_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      status_ = status;
      return status;
    }
    if (r < 0) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool ShellProcess::signal(int sig) { return pid_ > 0 && !reaped_ && kill(pid_, sig) == 0; }

bool ShellProcess::running() { return pid_ > 0 && !wait(std::chrono::milliseconds(0)).has_value(); }

}  // namespace kstest
