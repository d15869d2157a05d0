// devlink_bench: starts devsim beside this program, opens 1, 16 and 36
// concurrent sub streams through the SDK and reports, for each, the frames
// per second received from the wire and delivered to the media callback,
// the CPU time this process spends per frame, and devsim's own CPU load.
//
// Usage: devlink_bench [seconds per measurement, default 5]
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/MediaStream.h"
#include "platform/devlink/SdkContext.h"

extern char** environ;

namespace {

constexpr int kMaxStreams = 36;

std::string besideThisProgram(const char* name) {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return name;
  path[n] = 0;
  std::string dir(path);
  return dir.substr(0, dir.rfind('/') + 1) + name;
}

// CPU seconds (user + system) of a process from /proc/<pid>/stat.
double processCpuSeconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream in(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::atomic<uint64_t> delivered{0};
int countFrame(int32_t, const DLSDK_MediaFrame*, void*) {
  delivered.fetch_add(1, std::memory_order_relaxed);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  signal(SIGPIPE, SIG_IGN);

  // devsim on free ports; it prints them once it listens.
  int out[2];
  if (pipe(out) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string devsimPath = besideThisProgram("devsim");
  std::vector<std::string> args{devsimPath,
                                "--port",
                                "0",
                                "--media-port",
                                "0",
                                "--channels",
                                std::to_string(kMaxStreams),
                                "--max-streams",
                                "128",
                                "--print-ports",
                                "--content",
                                "scene"};
  std::vector<char*> argvDevsim;
  for (auto& a : args) argvDevsim.push_back(a.data());
  argvDevsim.push_back(nullptr);
  pid_t devsim = 0;
  if (posix_spawn(&devsim, devsimPath.c_str(), &actions, nullptr, argvDevsim.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", devsimPath.c_str());
    return 1;
  }
  close(out[1]);
  char line[256] = {};
  FILE* devsimOut = fdopen(out[0], "r");
  unsigned commandPort = 0, mediaPort = 0;
  if (!fgets(line, sizeof line, devsimOut) ||
      std::sscanf(line, "devsim command=%u media=%u", &commandPort, &mediaPort) != 2) {
    std::fprintf(stderr, "devsim did not report its ports\n");
    kill(devsim, SIGTERM);
    return 1;
  }

  DLSDK_StartUp();
  DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 15000);
  DLSDK_SetAttribute(DLSDK_ATTR_RECEIVE_BUFFER, 0x200000);
  DLSDK_SetAttribute(DLSDK_ATTR_SEND_BUFFER, 0x200000);
  DLSDK_LoginInfo info{};
  std::strcpy(info.address, "127.0.0.1");
  info.commandPort = commandPort;
  std::strcpy(info.user, "admin");
  std::strcpy(info.password, "admin");
  int32_t login = -1;
  if (const int rc = DLSDK_UserLogin(&login, &info); rc != 0) {
    std::fprintf(stderr, "login failed: %d\n", rc);
    kill(devsim, SIGTERM);
    return 1;
  }

  std::printf("DevLink live sub streams (704x576, 25 fps video + 25 fps G.711), %d s each\n", seconds);
  std::printf("%8s %14s %14s %16s %14s\n", "streams", "received/s", "delivered/s", "SDK CPU us/frame", "devsim CPU %");
  for (int n : {1, 16, 36}) {
    std::vector<int32_t> streams;
    for (int c = 0; c < n; ++c) {
      DLSDK_LiveStreamRequest r{c, 1, DLSDK_STREAM_SUB, static_cast<uint16_t>(mediaPort), {}};
      int32_t h = -1;
      // The first use of a channel encodes its loop; the open waits for it.
      if (const int rc = DLSDK_RealStreamConnect(&h, login, &r); rc != 0) {
        std::fprintf(stderr, "stream %d failed: %d\n", c, rc);
        break;
      }
      DLSDK_StreamMediaCB(h, &countFrame, nullptr);
      streams.push_back(h);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto received = [&] {
      uint64_t sum = 0;
      for (int32_t h : streams) {
        if (auto s = devlink::SdkContext::instance().find<devlink::MediaStream>(h)) sum += s->framesReceived();
      }
      return sum;
    };
    const uint64_t received0 = received();
    const uint64_t delivered0 = delivered.load();
    const double self0 = selfCpuSeconds();
    const double devsim0 = processCpuSeconds(devsim);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double receivedPerSecond = (received() - received0) / elapsed;
    const uint64_t deliveredFrames = delivered.load() - delivered0;
    const double cpuPerFrame = deliveredFrames ? (selfCpuSeconds() - self0) / deliveredFrames * 1e6 : 0;
    const double devsimLoad = (processCpuSeconds(devsim) - devsim0) / elapsed * 100;
    std::printf("%8zu %14.1f %14.1f %16.1f %14.1f\n", streams.size(), receivedPerSecond, deliveredFrames / elapsed,
                cpuPerFrame, devsimLoad);
    std::fflush(stdout);
    for (int32_t h : streams) DLSDK_RealStreamDisconnect(h);
  }
  DLSDK_UserLogout(login);
  DLSDK_CleanUp();
  kill(devsim, SIGTERM);
  int status = 0;
  waitpid(devsim, &status, 0);
  fclose(devsimOut);
  return 0;
}
