// The library as the shell meets it: through its C exports in the shared
// object, before and after start-up.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <string>

#include "plugin/api/ksplugs.h"
#include "plugin/files/testing/ScopedTempDir.h"

namespace {

std::set<std::string> exportedSymbols() {
  std::set<std::string> names;
  const std::string command = std::string("nm -D --defined-only ") + KSPLUGS_SO;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  std::array<char, 512> line{};
  while (fgets(line.data(), line.size(), pipe) != nullptr) {
    char type = 0;
    char name[400] = {};
    unsigned long long address = 0;
    if (std::sscanf(line.data(), "%llx %c %399s", &address, &type, name) == 3) names.insert(name);
  }
  pclose(pipe);
  return names;
}

TEST(Exports, ExactlyTheFourteenFunctions) {
  const std::set<std::string> expected = {
      "KsComGlobalInit",        "KsComGlobalUninit",          "KsComInitActiveNotify", "KsComGetAliveDeviceCount",
      "KsComCreateDevice",      "KsComDestroyObject",         "KsComCreatePreviewerDock", "KsComDeviceLiveControl",
      "KsComDevicePlaybackControl", "KsComSnapshot",          "KsComStreamRecord",     "KsComPlaybackQuery",
      "KsComDownloadControl",   "KsComDeviceSettings"};
  EXPECT_EQ(exportedSymbols(), expected);
}

int events = 0;
NotifyEvent lastEvent{};
int onEvent(const NotifyEvent* event, void* user) {
  ++events;
  lastEvent = *event;
  EXPECT_EQ(user, &events);
  return 0;
}

// One test walks the library's whole life: it is started once per process.
TEST(Exports, LifeWithoutDevices) {
  // Start-up wipes the work folders below the temporary folder: use our own.
  ksplugs::testing::ScopedTempDir temp;
  DeviceCreateParam create{};
  DestroyParam destroy{};
  LiveControlParam live{};
  PlaybackControlParam playback{};
  SnapshotParam snapshot{};
  StreamRecordParam record{};
  DownloadControlParam download{};
  DeviceSettingsParam settings{};

  // Before start-up.
  EXPECT_EQ(KsComGetAliveDeviceCount(), 0);
  EXPECT_EQ(KsComCreateDevice(&create), 1009);
  EXPECT_EQ(KsComDestroyObject(&destroy), 1009);
  EXPECT_EQ(KsComCreatePreviewerDock(1, &live), 1009);
  EXPECT_EQ(KsComDeviceLiveControl(&live), 1009);
  EXPECT_EQ(KsComDevicePlaybackControl(&playback), 1009);
  EXPECT_EQ(KsComSnapshot(&snapshot), 1009);
  EXPECT_EQ(KsComStreamRecord(&record), 1009);
  EXPECT_EQ(KsComDownloadControl(&download), 1009);
  EXPECT_EQ(KsComDeviceSettings(&settings, 0), 1009);
  EXPECT_EQ(KsComPlaybackQuery(nullptr, 0), 1001);
  EXPECT_EQ(KsComInitActiveNotify(onEvent, &events), 0);

  EXPECT_EQ(KsComGlobalInit(), 0);
  EXPECT_EQ(KsComGlobalInit(), 0);  // a second start does nothing
  EXPECT_EQ(KsComPlaybackQuery(nullptr, 0), 1001);
  EXPECT_EQ(KsComGetAliveDeviceCount(), 0);

  destroy.type = 2;
  EXPECT_EQ(KsComDestroyObject(&destroy), 0);
  destroy.type = 1;
  destroy.byUniqueId = 1;
  destroy.uniqueId = 12345;
  EXPECT_EQ(KsComDestroyObject(&destroy), 0);

  EXPECT_EQ(KsComCreatePreviewerDock(3, &live), 0);
  live.uniqueId = 77;
  EXPECT_EQ(KsComCreatePreviewerDock(1, &live), 1000);
  EXPECT_EQ(KsComDeviceLiveControl(&live), 1016);

  playback.type = PLAYBACK_PREVIEW;
  playback.preview.remote = 0;
  playback.uniqueId = 77;
  EXPECT_EQ(KsComDevicePlaybackControl(&playback), 1001);  // local playback, even for an unknown device
  playback.preview.remote = 1;
  EXPECT_EQ(KsComDevicePlaybackControl(&playback), 1016);

  snapshot.uniqueId = 77;
  EXPECT_EQ(KsComSnapshot(&snapshot), 1016);
  EXPECT_EQ(KsComStreamRecord(&record), 1016);
  EXPECT_EQ(KsComDownloadControl(&download), 1016);

  EXPECT_EQ(KsComGlobalUninit(), 0);
  EXPECT_EQ(KsComGlobalUninit(), 0);
  EXPECT_EQ(KsComCreateDevice(&create), 1009);
  // A start after shut-down brings up a new library.
  EXPECT_EQ(KsComGlobalInit(), 0);
  EXPECT_EQ(KsComCreateDevice(&create), 1000);
  EXPECT_EQ(KsComGlobalUninit(), 0);
  EXPECT_EQ(KsComCreateDevice(&create), 1009);
}

}  // namespace
