// download_bench: starts devsim beside this program and downloads the range
// 14:00:00-15:59:59 of 2024-05-06 (two recorded hours, sub stream) through a
// device entry, as fast as devsim sends, into a temporary file. Reports per
// output mode the recorded seconds per wall second, the file size and the
// process's peak memory so far; during the raw download it also times the
// page's progress query (p50/p99). MP4 modes run only when the build has the
// StreamConverter library.
//
// Usage: download_bench [range hours, 1-9, default 2]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/DevsimProcess.h"
#include "bench/support/ProcessCpu.h"
#include "platform/devlink/DevLinkSdk.h"
#include "plugin/device/DeviceEntry.h"
#include "plugin/download/DownloadTask.h"
#include "plugin/session/testing/CreateRecord.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// devsim with one channel, with or without sound.
bool startDevsim(benchsupport::DevsimProcess& devsim, bool audio) {
  return devsim.start({"--channels", "1", "--audio", audio ? "ulaw" : "none"});
}

SystemTime at(int hour, int minute, int second) {
  SystemTime t{};
  t.year = 2024;
  t.month = 5;
  t.day = 6;
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  return t;
}

int64_t seconds(const SystemTime& s) {
  struct tm t {};
  t.tm_year = s.year - 1900;
  t.tm_mon = s.month - 1;
  t.tm_mday = s.day;
  t.tm_hour = s.hour;
  t.tm_min = s.minute;
  t.tm_sec = s.second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

long peakKilobytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Result {
  bool ok = false;
  double wallSeconds = 0;
  uintmax_t bytes = 0;
  std::vector<double> pollMicros;
};

Result download(const benchsupport::DevsimProcess& device, int format, int hours, const fs::path& file,
                bool timePolls) {
  Result result;
  ksplugs::testing::CreateRecord record("00:11:22:33:44:77", static_cast<uint16_t>(device.commandPort()),
                                        static_cast<uint16_t>(device.mediaPort()), 1);
  ksplugs::DeviceEntry entry;
  if (entry.initialise(1, record.param) != KS_OK) return result;
  std::array<char, 260> path{};
  std::snprintf(path.data(), path.size(), "%s", file.c_str());
  DownloadControlParam start{};
  start.operate = 1;
  start.uniqueId = 1;
  start.remote = 1;
  start.format = format;
  start.startTime = at(14, 0, 0);
  start.endTime = at(13 + hours, 59, 59);
  start.startSeconds = seconds(start.startTime);
  start.endSeconds = seconds(start.endTime);
  start.path = path.data();
  const auto began = Clock::now();
  if (const int rc = entry.downloadControl(start); rc != KS_OK) {
    std::fprintf(stderr, "start answered %d\n", rc);
    entry.teardown();
    return result;
  }
  for (;;) {
    DownloadControlParam query{};
    query.operate = 2;
    query.uniqueId = 1;
    const auto asked = Clock::now();
    const int rc = entry.downloadControl(query);
    const auto answered = Clock::now();
    if (timePolls) result.pollMicros.push_back(std::chrono::duration<double, std::micro>(answered - asked).count());
    if (rc != KS_OK) {
      std::fprintf(stderr, "progress answered %d\n", rc);
      break;
    }
    if (query.progress == ksplugs::DownloadTask::kDone) {
      result.ok = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(timePolls ? 1 : 20));
  }
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - began).count();
  entry.teardown();
  std::error_code ignored;
  result.bytes = fs::file_size(file, ignored);
  fs::remove(file, ignored);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int hours = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 9) : 2;
  signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/download-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path folder = pattern;

  benchsupport::DevsimProcess withSound, withoutSound;
  if (!startDevsim(withSound, true)) return 1;
  DLSDK_StartUp();
  DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 15000);

  struct Mode {
    const char* name;
    int format;
    bool sound;
    const char* extension;
  };
  std::vector<Mode> modes{{"device frames (raw)", 2, true, ".prv"}};
  modes.push_back({"MP4, video only", 1, false, ".mp4"});
  modes.push_back({"MP4, video + AAC", 1, true, ".mp4"});
  if (!startDevsim(withoutSound, false)) return 1;

  const double recorded = hours * 3600.0;
  std::printf("Download of %d recorded hour(s), sub stream 704x576 25 fps, devsim over loopback\n", hours);
  std::printf("%-22s %12s %18s %12s %14s\n", "mode", "wall s", "recorded s per s", "file MiB", "peak RSS MiB");
  int status = 0;
  std::vector<double> polls;
  for (const Mode& mode : modes) {
    const benchsupport::DevsimProcess& device = mode.sound ? withSound : withoutSound;
    const bool timePolls = mode.format != 1;
    Result r = download(device, mode.format, hours, folder / (std::string("range") + mode.extension), timePolls);
    if (!r.ok) {
      std::printf("%-22s failed\n", mode.name);
      status = 1;
      continue;
    }
    if (timePolls) polls = r.pollMicros;
    std::printf("%-22s %12.2f %18.1f %12.1f %14.1f\n", mode.name, r.wallSeconds, recorded / r.wallSeconds,
                static_cast<double>(r.bytes) / (1024.0 * 1024.0), static_cast<double>(peakKilobytes()) / 1024.0);
  }
  if (!polls.empty()) {
    std::printf("progress query during the raw download: %zu polls, p50 %.2f us, p99 %.2f us\n", polls.size(),
                benchsupport::percentile(polls, 0.50, 0.0), benchsupport::percentile(polls, 0.99, 0.0));
  }
  DLSDK_CleanUp();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return status;
}
