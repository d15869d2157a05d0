#include "platform/ui/backends/ZenitySaveDialog.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

extern char** environ;

namespace ui {

namespace {

std::string findOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// "Video (*.mp4)|*.mp4|All files|*" becomes zenity's "NAME | PATTERN ..."
// filters; a pattern list's ';' separators become spaces.
std::vector<std::string> zenityFilters(const std::string& filter) {
  std::vector<std::string> parts;
  std::stringstream in(filter);
  for (std::string part; std::getline(in, part, '|');) parts.push_back(part);
  std::vector<std::string> out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns = parts[i + 1];
    for (char& c : patterns) {
      if (c == ';') c = ' ';
    }
    out.push_back("--file-filter=" + parts[i] + " | " + patterns);
  }
  return out;
}

bool hasExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
}

}  // namespace

std::optional<std::string> runZenitySaveDialog(const SaveDialogRequest& request, const char* display) {
  std::string program = findOnPath("zenity");
  if (program.empty()) return std::nullopt;
  std::vector<std::string> args{program, "--file-selection", "--save"};
  if (!request.title.empty()) args.push_back("--title=" + request.title);
  if (!request.initialPath.empty()) args.push_back("--filename=" + request.initialPath);
  for (std::string& f : zenityFilters(request.filter)) args.push_back(std::move(f));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (!display || std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
  }
  if (display) env.push_back(std::string("DISPLAY=") + display);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string chosen;
  if (rc == 0) {
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n > 0) {
        chosen.append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  }
  ::close(out[0]);
  if (rc != 0) return std::nullopt;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // zenity answers 0 with the path on a line; anything else is a cancel.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r')) chosen.pop_back();
  if (chosen.empty()) return std::nullopt;
  if (!request.defaultExtension.empty() && !hasExtension(chosen)) {
    chosen += (request.defaultExtension.front() == '.' ? "" : ".") + request.defaultExtension;
  }
  return chosen;
}

}  // namespace ui
