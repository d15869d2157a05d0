#include "bench/support/DevsimProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

namespace benchsupport {
namespace {

std::string besideThisProgram(const char* name) {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return name;
  path[n] = 0;
  const std::string dir(path);
  return dir.substr(0, dir.rfind('/') + 1) + name;
}

}  // namespace

bool DevsimProcess::start(const std::vector<std::string>& extra) {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string path = besideThisProgram("devsim");
  std::vector<std::string> args{path, "--port", "0", "--media-port", "0", "--print-ports"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const bool spawned = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (!spawned) {
    pid_ = 0;
    close(out[0]);
    std::fprintf(stderr, "cannot start %s\n", path.c_str());
    return false;
  }
  FILE* text = fdopen(out[0], "r");
  char line[256] = {};
  const bool ok = fgets(line, sizeof line, text) != nullptr &&
                  std::sscanf(line, "devsim command=%u media=%u", &commandPort_, &mediaPort_) == 2;
  fclose(text);
  if (!ok) std::fprintf(stderr, "devsim did not report its ports\n");
  return ok;
}

DevsimProcess::~DevsimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace benchsupport
