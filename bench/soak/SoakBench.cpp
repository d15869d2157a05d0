// A long run of live view against four device simulators, watching the
// process for leaks: each device has a 4 x 4 dock over a browser window of
// its own with all sixteen channels playing their sub streams, opened from
// the page through the shell's dialog and the plug-in library in this one
// process on the headless desktop (as the live-command benchmark does).
// Every ten seconds one device, in turn, loses its dock and is destroyed,
// then is created and opened again. Before each such churn the process's
// resident memory, threads and open descriptors are sampled; the last
// sample is taken once the final churn has settled.
//
// Pass: resident memory grows by less than 5 % from the end of the warm-up
// (the first minute, or a quarter of a shorter run) to the end, and threads
// and descriptors do not grow at all; every churn succeeds and pictures
// keep flowing. Prints the samples and the verdict; exits 1 on failure.
//
// Usage: soak_bench; KESTROVA_SOAK_SECONDS sets the length (default 600).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/soak/SoakVerdict.h"
#include "bench/support/ProcessSample.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/WindowApi.h"
#include "tests/support/LivePageHarness.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using kstest::LivePageHarness;

constexpr int kDevices = 4;
constexpr int kChannels = 16;
constexpr auto kChurnEvery = std::chrono::seconds(10);

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The run's length in seconds from KESTROVA_SOAK_SECONDS: 600 when unset,
// and at least 30 so that a sample follows the warm-up.
int runSeconds() {
  const char* text = std::getenv("KESTROVA_SOAK_SECONDS");
  if (text == nullptr || *text == '\0') return 600;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 30 || value > 24 * 3600) {
    std::fprintf(stderr, "KESTROVA_SOAK_SECONDS must be a number of seconds from 30 to 86400; using 600\n");
    return 600;
  }
  return static_cast<int>(value);
}

// One simulated device, its browser window and the id the library gave it.
struct Slot {
  std::unique_ptr<devsim::DevSimServer> server;
  std::string mac;
  std::string title;
  ui::Rect frame;
  uint32_t id = 0;
};

class Soak {
 public:
  explicit Soak(LivePageHarness& page) : page_(page) {}

  // Creates the slot's device and opens all its channels in a 4 x 4 dock.
  bool open(Slot& slot) {
    slot.id = page_.createDevice(*slot.server, slot.mac, kChannels, 2);
    if (slot.id == 0) return fail("createDev for " + slot.title + " was refused");
    std::string names;
    for (int i = 0; i < kChannels; ++i) names += (i == 0 ? "\"C" : ", \"C") + std::to_string(i) + "\"";
    const Json::Value reply = page_.live(slot.id, msgId_++, 1,
                                         R"("Preview": {"title": ")" + slot.title +
                                             R"(", "layout": 4, "x": 10, "y": 10, "w": 900, "h": 480,)"
                                             R"( "streamType": 2, "openAll": true, "channelName": [)" +
                                             names + "]}");
    if (reply["code"].asInt() != 200) return fail("Preview on " + slot.title + " answered " + reply.toStyledString());
    return true;
  }

  // Closes the slot's streams, then destroys its device with its dock.
  bool close(Slot& slot) {
    const Json::Value closed =
        page_.live(slot.id, msgId_++, 1, R"("Preview": {"title": ")" + slot.title + R"(", "closeAll": true})");
    if (closed["code"].asInt() != 200)
      return fail("closeAll on " + slot.title + " answered " + closed.toStyledString());
    const Json::Value destroyed = page_.request(R"({"msgId": )" + std::to_string(msgId_++) +
                                                R"(, "Fountion": "destroy", "DestroyObject": {"type": 1,)"
                                                R"( "Device": {"uniqueId": )" +
                                                std::to_string(slot.id) + "}}}");
    if (destroyed["code"].asInt() != 200)
      return fail("destroy of " + slot.title + " answered " + destroyed.toStyledString());
    slot.id = 0;
    return true;
  }

  const std::vector<std::string>& failures() const { return failures_; }

 private:
  bool fail(const std::string& why) {
    failures_.push_back(why);
    std::fprintf(stderr, "soak: %s\n", why.c_str());
    return false;
  }

  LivePageHarness& page_;
  int msgId_ = 100;
  std::vector<std::string> failures_;
};

uint64_t picturesSent(const std::vector<Slot>& slots) {
  uint64_t total = 0;
  for (const Slot& slot : slots) total += slot.server->picturesSent();
  return total;
}

void printRow(const benchsupport::ProcessSample& s, double picturesPerSecond, const char* note) {
  std::printf("%7.0f %10.1f %8d %8d %12.0f  %s\n", s.seconds, s.rssKb / 1024.0, s.threads, s.descriptors,
              picturesPerSecond, note);
  std::fflush(stdout);
}

}  // namespace

int main() {
  const int seconds = runSeconds();
  soak::SoakLimits limits;
  limits.warmupSeconds = std::min(60.0, seconds / 4.0);
  av_log_set_level(AV_LOG_QUIET);

  std::vector<Slot> slots(kDevices);
  std::string error;
  for (int i = 0; i < kDevices; ++i) {
    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    options.channels = kChannels;
    options.loopSeconds = 1;
    slots[i].server = std::make_unique<devsim::DevSimServer>(options);
    if (!slots[i].server->start(&error)) {
      std::fprintf(stderr, "simulator %d: %s\n", i, error.c_str());
      return 1;
    }
    // The loops are encoded before the run, so their memory is not growth.
    for (int channel = 0; channel < kChannels; ++channel) slots[i].server->loopFor(channel, DLSDK_STREAM_SUB);
    char mac[18];
    std::snprintf(mac, sizeof mac, "00-11-22-33-55-%02X", 0x10 + i);
    slots[i].mac = mac;
    slots[i].title = "Wall " + std::to_string(i);
    const int x = (i % 2) * 960;
    const int y = (i / 2) * 540;
    slots[i].frame = ui::Rect{x, y, x + 960, y + 540};
  }

  LivePageHarness page;
  if (!page.start(&error)) {
    std::fprintf(stderr, "harness: %s\n", error.c_str());
    return 1;
  }
  Soak soak(page);
  for (Slot& slot : slots) {
    const ui::Rect& f = slot.frame;
    page.addBrowser(slot.title + " - Browser", f, ui::Rect{f.left + 8, f.top + 30, f.right - 8, f.bottom - 8});
    if (!soak.open(slot)) return 1;
  }

  std::printf(
      "soak_bench: %d devices x %d live sub streams in 4 x 4 docks for %d s, one device's dock and\n"
      "device destroyed and created again every %lld s; warm-up %.0f s\n\n",
      kDevices, kChannels, seconds, static_cast<long long>(kChurnEvery.count()), limits.warmupSeconds);
  std::printf("%7s %10s %8s %8s %12s\n", "seconds", "RSS MiB", "threads", "fds", "pictures/s");

  const auto start = Clock::now();
  std::vector<benchsupport::ProcessSample> samples;
  samples.push_back(benchsupport::sampleThisProcess(0));
  printRow(samples.back(), 0, "start");
  uint64_t picturesBefore = picturesSent(slots);
  double lastSample = 0;
  int starvedIntervals = 0;
  int churns = 0;
  for (auto next = start + kChurnEvery; next <= start + std::chrono::seconds(seconds); next += kChurnEvery) {
    // The pump may return a little before its time; the sample is taken at
    // `next`, never before, so that it falls on the right side of the warm-up.
    while (Clock::now() < next)
      ui::pumpMessagesUntil(
          [] { return false; },
          std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()) + std::chrono::milliseconds(1));
    benchsupport::ProcessSample sample = benchsupport::sampleThisProcess(since(start));
    const uint64_t pictures = picturesSent(slots);
    const double rate = (pictures - picturesBefore) / std::max(0.001, sample.seconds - lastSample);
    if (pictures == picturesBefore) ++starvedIntervals;
    picturesBefore = pictures;
    lastSample = sample.seconds;
    samples.push_back(sample);
    printRow(sample, rate,
             sample.seconds >= limits.warmupSeconds && samples[samples.size() - 2].seconds < limits.warmupSeconds
                 ? "end of warm-up"
                 : "");
    if (next + kChurnEvery > start + std::chrono::seconds(seconds)) break;
    Slot& slot = slots[churns++ % kDevices];
    if (!soak.close(slot) || !soak.open(slot)) break;
  }

  // The last churn settles: its threads and descriptors go within 15 s.
  size_t baseline = 0;
  while (baseline < samples.size() && samples[baseline].seconds < limits.warmupSeconds) ++baseline;
  if (baseline < samples.size()) {
    const benchsupport::ProcessSample reference = samples[baseline];
    ui::pumpMessagesUntil(
        [&] {
          const benchsupport::ProcessSample now = benchsupport::sampleThisProcess(0);
          return now.threads <= reference.threads && now.descriptors <= reference.descriptors;
        },
        std::chrono::seconds(15));
  }
  samples.push_back(benchsupport::sampleThisProcess(since(start)));
  printRow(samples.back(), 0, "settled");

  soak::SoakVerdict verdict = soak::judgeSoak(samples, limits);
  for (const std::string& failure : soak.failures()) verdict.failures.push_back(failure);
  if (starvedIntervals > 0)
    verdict.failures.push_back(std::to_string(starvedIntervals) + " sampling intervals saw no picture sent");
  const bool pass = verdict.failures.empty();
  std::printf("\n%d churns; from %.0f s to %.0f s: RSS %+.2f %%, threads %+d, descriptors %+d\n", churns,
              samples[verdict.baseline].seconds, samples.back().seconds, verdict.rssGrowthPercent, verdict.threadGrowth,
              verdict.descriptorGrowth);
  for (const std::string& failure : verdict.failures) std::printf("  FAIL: %s\n", failure.c_str());
  std::printf("soak: %s\n", pass ? "PASS" : "FAIL");

  for (Slot& slot : slots)
    if (slot.id != 0) soak.close(slot);
  page.stop();
  for (Slot& slot : slots) slot.server->stop();
  return pass ? 0 : 1;
}
