#include "platform/audio/testing/PulseDaemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

namespace audio::testing {

namespace {

bool socketAnswers(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

PulseDaemon::PulseDaemon() {
  if (const char* old = std::getenv("PULSE_SERVER")) previousServer_ = old;
  std::string pattern = std::filesystem::temp_directory_path().string() + "/kestrova-pulse-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    why_ = "cannot make a temporary folder";
    return;
  }
  folder_ = pattern;
  const std::string socketPath = folder_ + "/pa.sock";
  const std::string log = folder_ + "/pulseaudio.log";
  std::vector<std::string> arguments = {
      "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
      "-L", "module-native-protocol-unix socket=" + socketPath + " auth-anonymous=1",
      "-L", "module-null-sink sink_name=spk",
      "-L", "module-null-sink sink_name=mic"};
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The daemon's runtime and configuration files stay in the private
  // folder. The environment is built before fork(): the child of a threaded
  // process only execs.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name != "HOME" && name != "XDG_RUNTIME_DIR" && name != "XDG_CONFIG_HOME" && name != "PULSE_SERVER") {
      environment.push_back(entry);
    }
  }
  for (const char* name : {"HOME=", "XDG_RUNTIME_DIR=", "XDG_CONFIG_HOME="}) environment.push_back(name + folder_);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) {
    why_ = "fork failed";
    return;
  }
  if (pid_ == 0) {
    // The daemon dies with the test, even one that crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execvpe("pulseaudio", argv.data(), envp.data());
    _exit(127);
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      why_ = WIFEXITED(status) && WEXITSTATUS(status) == 127
                 ? "pulseaudio is not on PATH (scripts/install-deps installs it)"
                 : "pulseaudio ended at start-up; see " + log;
      return;
    }
    if (socketAnswers(socketPath)) break;
    if (std::chrono::steady_clock::now() > deadline) {
      why_ = "pulseaudio's socket did not answer within 15 s; see " + log;
      kill();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::setenv("PULSE_SERVER", server().c_str(), 1);
  ok_ = true;
}

PulseDaemon::~PulseDaemon() {
  kill();
  if (previousServer_) {
    ::setenv("PULSE_SERVER", previousServer_->c_str(), 1);
  } else {
    ::unsetenv("PULSE_SERVER");
  }
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

std::string PulseDaemon::server() const { return "unix:" + folder_ + "/pa.sock"; }

void PulseDaemon::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::optional<std::string> PulseDaemon::pactl(const std::string& arguments) const {
  const std::string command = "PULSE_SERVER='" + server() + "' pactl " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[512];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

int PulseDaemon::count(const std::string& what) const {
  const std::optional<std::string> out = pactl("list short " + what);
  if (!out) return -1;
  std::istringstream lines(*out);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) n += !line.empty();
  return n;
}

}  // namespace audio::testing
