// Devices through the library's exports, as the shell meets them in the
// shared object: creation up to the limit, ids, destruction by id and by
// connection, lookups of the device commands, and many pages at once. The
// library starts once per process, so the tests share one life of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "plugin/api/ksplugs.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "plugin/session/testing/CreateRecord.h"
#include "tools/devsim/DevSimServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ksplugs::testing::CreateRecord;

class Library : public ::testing::Environment {
 public:
  void SetUp() override {
    temp = std::make_unique<ksplugs::testing::ScopedTempDir>();
    leftover = fs::path(temp->workRoot()) / "Image" / "old" / "picture.jpg";
    fs::create_directories(leftover.parent_path());
    std::ofstream(leftover) << "from an earlier run";

    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    server = std::make_unique<devsim::DevSimServer>(options);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    ASSERT_EQ(KsComGlobalInit(), 0);
  }
  void TearDown() override {
    EXPECT_EQ(KsComGlobalUninit(), 0);
    CreateRecord record("late", server->commandPort(), server->mediaPort());
    EXPECT_EQ(KsComCreateDevice(&record.param), KS_E_NOT_READY);
    EXPECT_EQ(KsComGetAliveDeviceCount(), 0);
    server->stop();
    temp.reset();
  }

  static inline std::unique_ptr<ksplugs::testing::ScopedTempDir> temp;
  static inline std::unique_ptr<devsim::DevSimServer> server;
  static inline fs::path leftover;
};

const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

int create(uint32_t connection, uint32_t* id, const std::function<void(DeviceCreateParam&)>& spoil = nullptr) {
  CreateRecord record("00:11:22:33:44:" + std::to_string(connection % 100), Library::server->commandPort(),
                      Library::server->mediaPort(), 4, connection);
  if (spoil) spoil(record.param);
  const int result = KsComCreateDevice(&record.param);
  if (id != nullptr) *id = record.param.uniqueId;
  if (result == KS_OK) {
    EXPECT_EQ(record.param.stream, nullptr);  // taken over by the library
  } else {
    EXPECT_EQ(record.param.uniqueId, 0u);
  }
  return result;
}

int destroy(uint8_t byUniqueId, uint32_t value) {
  DestroyParam param{};
  param.type = 1;
  param.byUniqueId = byUniqueId;
  param.uniqueId = value;
  return KsComDestroyObject(&param);
}

int live(uint32_t id, uint32_t connection = 0, uint32_t type = LIVE_PREVIEW) {
  LiveControlParam param{};
  param.type = type;
  param.uniqueId = id;
  param.connectionId = connection;
  param.audio.mute = 1;
  return KsComDeviceLiveControl(&param);
}

TEST(DevicesExports, StartUpClearsTheWorkFolders) {
  EXPECT_FALSE(fs::exists(Library::leftover));
  EXPECT_FALSE(fs::exists(fs::path(Library::temp->path()) / ("Kestrova-" + std::to_string(::geteuid()))));
}

TEST(DevicesExports, DeviceLifeThroughTheExports) {
  // Devices 1 to 4 belong to connection 100, 5 to 8 to connection 200.
  for (uint32_t expected = 1; expected <= 8; ++expected) {
    uint32_t id = 0;
    ASSERT_EQ(create(expected <= 4 ? 100 : 200, &id), KS_OK);
    EXPECT_EQ(id, expected);
  }
  EXPECT_EQ(KsComGetAliveDeviceCount(), 8);
  EXPECT_EQ(Library::server->sessionCount(), 0);  // devices log in only when a command needs it

  EXPECT_EQ(create(100, nullptr), KS_E_DEVICE_LIMIT);
  const auto noThirdStream = [](DeviceCreateParam& p) { std::memset(p.resThirdStream, 0, sizeof p.resThirdStream); };
  EXPECT_EQ(create(100, nullptr, noThirdStream), KS_E_INVALID);
  EXPECT_EQ(destroy(1, 4), 0);
  EXPECT_EQ(KsComGetAliveDeviceCount(), 7);
  EXPECT_EQ(create(100, nullptr, noThirdStream), KS_E_INVALID);
  uint32_t id = 0;
  ASSERT_EQ(create(300, &id), KS_OK);
  EXPECT_EQ(id, 9u);  // neither the refusals nor the destroyed device used an id

  // Connection 100 goes away: every live device it owns goes (1, 2 and 3;
  // 4 went before), the others stay.
  EXPECT_EQ(destroy(0, 100), 0);
  EXPECT_EQ(KsComGetAliveDeviceCount(), 5);
  for (const uint32_t gone : {1u, 2u, 3u}) EXPECT_EQ(live(gone), KS_E_NO_DEVICE) << gone;
  // Found; without a dock window and a title to find the browser by, a
  // preview is incomplete.
  EXPECT_EQ(live(9), KS_E_INVALID);

  // A command naming a connection makes it the owner; a zero keeps the owner.
  EXPECT_EQ(live(5, 400), KS_E_INVALID);
  EXPECT_EQ(live(6, 0, LIVE_AUDIO), KS_E_NOT_READY);  // not logged in
  EXPECT_EQ(destroy(0, 200), 0);                      // 6, 7 and 8: 5 belongs to 400 now
  EXPECT_EQ(live(5), KS_E_INVALID);
  for (const uint32_t gone : {6u, 7u, 8u}) EXPECT_EQ(live(gone), KS_E_NO_DEVICE) << gone;
  EXPECT_EQ(destroy(0, 400), 0);
  EXPECT_EQ(live(5), KS_E_NO_DEVICE);
  EXPECT_EQ(KsComGetAliveDeviceCount(), 1);

  // Destroying something unknown or a window changes nothing.
  EXPECT_EQ(destroy(1, 12345), 0);
  EXPECT_EQ(destroy(0, 999), 0);
  DestroyParam window{};
  window.type = 2;
  window.hWnd = 7;
  EXPECT_EQ(KsComDestroyObject(&window), 0);
  EXPECT_EQ(KsComGetAliveDeviceCount(), 1);
}

TEST(DevicesExports, DeviceCommandsFindTheirDevice) {
  uint32_t id = 0;
  ASSERT_EQ(create(500, &id), KS_OK);

  LiveControlParam liveDock{};
  liveDock.uniqueId = id;
  // Found, but no socket has the record's client port 0: no browser to dock on.
  EXPECT_EQ(KsComCreatePreviewerDock(1, &liveDock), KS_E_CHANNEL);
  liveDock.uniqueId = 9999;
  EXPECT_EQ(KsComCreatePreviewerDock(1, &liveDock), KS_E_INVALID);
  PlaybackControlParam playbackDock{};
  playbackDock.uniqueId = 9999;
  EXPECT_EQ(KsComCreatePreviewerDock(2, &playbackDock), KS_E_INVALID);

  PlaybackControlParam playback{};
  playback.type = PLAYBACK_PREVIEW;
  playback.uniqueId = id;
  playback.preview.remote = 0;
  EXPECT_EQ(KsComDevicePlaybackControl(&playback), KS_E_NOT_SUPPORTED);
  playback.preview.remote = 1;
  EXPECT_EQ(KsComDevicePlaybackControl(&playback), KS_E_NOT_READY);
  playback.uniqueId = 9999;
  EXPECT_EQ(KsComDevicePlaybackControl(&playback), KS_E_NO_DEVICE);

  char path[260] = "C:\\pictures\\shot.jpg";
  SnapshotParam snapshot{};
  snapshot.uniqueId = id;
  snapshot.path = path;
  EXPECT_EQ(KsComSnapshot(&snapshot), KS_E_CHANNEL);  // a picture from playback: no playback cell
  EXPECT_STREQ(path, "C:/pictures/shot.jpg");
  snapshot.live = 1;
  EXPECT_EQ(KsComSnapshot(&snapshot), KS_E_NOT_READY);  // from live view: not logged in  // our separator is '/'

  char recordPath[260] = "/videos/dev/clip.mp4";
  StreamRecordParam record{};
  record.uniqueId = id;
  record.start = 0;
  record.path = recordPath;
  EXPECT_EQ(KsComStreamRecord(&record), KS_E_NOT_READY);
  EXPECT_STREQ(recordPath, "/videos/dev");  // a stop answers the folder
  record.uniqueId = 9999;
  EXPECT_EQ(KsComStreamRecord(&record), KS_E_NO_DEVICE);

  DownloadControlParam download{};
  download.uniqueId = id;
  download.operate = 1;  // recordings on the local disk are not downloaded from
  EXPECT_EQ(KsComDownloadControl(&download), KS_E_UNAVAILABLE);
  download.operate = 2;  // no download yet: progress 0
  download.progress = 77;
  EXPECT_EQ(KsComDownloadControl(&download), KS_OK);
  EXPECT_EQ(download.progress, 0u);
  DeviceSettingsParam settings{};
  settings.uniqueId = id;
  EXPECT_EQ(KsComDeviceSettings(&settings, 0), KS_E_WINDOW);  // no settings cell without the dock window
  settings.uniqueId = 9999;
  EXPECT_EQ(KsComDeviceSettings(&settings, 0), KS_E_NO_DEVICE);

  EXPECT_EQ(destroy(1, id), 0);
}

TEST(DevicesExports, ManyPagesAtOnce) {
  // Start from no device.
  for (uint32_t id = 1; id < 64; ++id) destroy(1, id);
  ASSERT_EQ(KsComGetAliveDeviceCount(), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> overLimit{0};
  std::atomic<int> unexpected{0};
  std::mutex idsMutex;
  std::set<uint32_t> ids;
  std::vector<std::thread> pages;
  for (int page = 0; page < 8; ++page) {
    pages.emplace_back([&, page] {
      std::mt19937 random(page);
      const uint32_t connection = 1000 + page;
      while (!stop.load()) {
        uint32_t id = 0;
        switch (random() % 5) {
          case 0:
          case 1: {
            const int result = create(connection, &id);
            if (result == KS_OK) {
              std::lock_guard lock(idsMutex);
              if (!ids.insert(id).second) ++unexpected;
            } else if (result != KS_E_DEVICE_LIMIT) {
              ++unexpected;
            }
            break;
          }
          case 2: {
            const int result = live(1 + random() % 200, connection, random() % 2 ? LIVE_AUDIO : LIVE_PREVIEW);
            // Audio answers "not logged in"; a preview without a title is incomplete.
            if (result != KS_E_NO_DEVICE && result != KS_E_NOT_READY && result != KS_E_INVALID) ++unexpected;
            break;
          }
          case 3:
            destroy(1, 1 + random() % 200);
            break;
          default:
            destroy(0, connection);
            break;
        }
        if (KsComGetAliveDeviceCount() > 8) ++overLimit;
      }
    });
  }
  std::this_thread::sleep_for(2s);
  stop = true;
  for (auto& page : pages) page.join();
  EXPECT_EQ(overLimit.load(), 0);
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GT(ids.size(), 8u);
  for (uint32_t id : ids) destroy(1, id);
  EXPECT_EQ(KsComGetAliveDeviceCount(), 0);
}

}  // namespace
