#include "plugin/device/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "plugin/files/WorkFolders.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "plugin/session/testing/CreateRecord.h"

namespace ksplugs {
namespace {

namespace fs = std::filesystem;
using testing::CreateRecord;
using namespace std::chrono_literals;

uint32_t createDevice(DeviceRegistry& registry, const std::string& mac, uint32_t connection = 1) {
  CreateRecord record(mac, 6060, 6066, 4, connection);
  const int result = registry.create(record.param);
  EXPECT_EQ(result, KS_OK);
  EXPECT_EQ(record.param.stream, nullptr);
  return result == KS_OK ? record.param.uniqueId : 0;
}

void destroyById(DeviceRegistry& registry, uint32_t id) { registry.destroy(registry.findById(id)); }

TEST(DeviceRegistry, EightDevicesAtMostAndIdsAreNeverReused) {
  auto registry = DeviceRegistry::make();
  for (uint32_t expected = 1; expected <= 8; ++expected) {
    EXPECT_EQ(createDevice(*registry, "dev" + std::to_string(expected)), expected);
  }
  CreateRecord ninth("dev9", 6060, 6066);
  EXPECT_EQ(registry->create(ninth.param), KS_E_DEVICE_LIMIT);
  EXPECT_EQ(ninth.param.uniqueId, 0u);
  EXPECT_NE(ninth.param.stream, nullptr);  // the caller keeps and frees it
  EXPECT_EQ(registry->countAlive(), 8);

  destroyById(*registry, 3);
  EXPECT_EQ(registry->countAlive(), 7);
  EXPECT_FALSE(registry->findById(3));
  EXPECT_EQ(createDevice(*registry, "dev10"), 9u);  // the refused ninth used no id
  EXPECT_EQ(registry->countAlive(), 8);
}

TEST(DeviceRegistry, IncompleteRecordsAreRefusedWithoutUsingAnId) {
  auto registry = DeviceRegistry::make();
  const std::vector<std::function<void(DeviceCreateParam&)>> spoilers = {
      [](DeviceCreateParam& p) { p.MAC[0] = 0; },
      [](DeviceCreateParam& p) { p.usr[0] = 0; },
      [](DeviceCreateParam& p) { p.address[0] = 0; },
      [](DeviceCreateParam& p) { p.cmdPort = 0; },
      [](DeviceCreateParam& p) { p.mediaPort = 0; },
      [](DeviceCreateParam& p) {
        std::free(p.stream);
        p.stream = nullptr;
      },
      [](DeviceCreateParam& p) { p.totalChannel = -1; },
      [](DeviceCreateParam& p) { p.resShowBitrate[0] = 0; },
      [](DeviceCreateParam& p) { p.resMainStream[0] = 0; },
      [](DeviceCreateParam& p) { p.resSubStream[0] = 0; },
      [](DeviceCreateParam& p) { p.resThirdStream[0] = 0; },
  };
  for (size_t i = 0; i < spoilers.size(); ++i) {
    CreateRecord record("mac", 6060, 6066);
    spoilers[i](record.param);
    EXPECT_EQ(registry->create(record.param), KS_E_INVALID) << "spoiler " << i;
    EXPECT_EQ(record.param.uniqueId, 0u);
  }
  EXPECT_EQ(registry->listedCount(), 0u);
  // An empty password is allowed, and the first complete record gets id 1.
  CreateRecord record("mac", 6060, 6066, 0, 1, "admin", "");
  EXPECT_EQ(registry->create(record.param), KS_OK);
  EXPECT_EQ(record.param.uniqueId, 1u);
}

TEST(DeviceRegistry, AFailedBuildLeavesNothingReachable) {
  auto registry = DeviceRegistry::make();
  ASSERT_EQ(createDevice(*registry, "first"), 1u);
  int failures = 0;
  registry->setBuildHook([&](DeviceEntry& entry) -> int {
    EXPECT_EQ(entry.refCount(), 1);
    switch (failures++) {
      case 0:
        return KS_E_NO_MEMORY;
      case 1:
        throw std::bad_alloc();
      case 2:
        throw std::runtime_error("not a device");
      default:
        return KS_OK;
    }
  });
  for (int attempt = 0; attempt < 3; ++attempt) {
    CreateRecord record("broken", 6060, 6066);
    EXPECT_EQ(registry->create(record.param), KS_E_NO_MEMORY);
    EXPECT_EQ(record.param.uniqueId, 0u);     // no id that names nothing
    EXPECT_EQ(record.param.stream, nullptr);  // taken and freed with the dropped entry
  }
  EXPECT_EQ(registry->listedCount(), 1u);
  EXPECT_EQ(registry->countAlive(), 1);
  for (uint32_t id = 2; id <= 4; ++id) EXPECT_FALSE(registry->findById(id)) << id;
  DeviceEntry* walked = registry->next(nullptr);
  ASSERT_NE(walked, nullptr);
  EXPECT_EQ(walked->uniqueId(), 1u);
  EXPECT_EQ(registry->next(walked), nullptr);

  // Failed builds never count towards the limit.
  const uint32_t next = createDevice(*registry, "works");
  EXPECT_GT(next, 1u);
  EXPECT_EQ(registry->countAlive(), 2);
}

TEST(DeviceRegistry, AClosingDeviceIsInvisibleUntilItsLastReferenceGoes) {
  testing::ScopedTempDir temp;
  auto registry = DeviceRegistry::make();
  const uint32_t id = createDevice(*registry, "AA:BB:CC:DD:EE:FF");
  const uint32_t other = createDevice(*registry, "other");
  const fs::path pictures = WorkFolders::deviceImageFolder("AA-BB-CC-DD-EE-FF");
  ASSERT_TRUE(WorkFolders::makeFolder((pictures / "nested").string()));

  DeviceRef command = registry->findById(id);  // a command running on the device
  ASSERT_TRUE(command);
  EXPECT_EQ(command->refCount(), 2);
  destroyById(*registry, id);

  EXPECT_TRUE(command->closing());
  EXPECT_EQ(command->refCount(), 1);
  EXPECT_FALSE(registry->findById(id));
  EXPECT_FALSE(registry->findByOwner(1).get() == command.get());
  EXPECT_EQ(registry->countAlive(), 1);
  EXPECT_EQ(registry->listedCount(), 2u);  // still listed while the command runs
  DeviceEntry* walked = registry->next(nullptr);
  ASSERT_NE(walked, nullptr);
  EXPECT_EQ(walked->uniqueId(), other);
  registry->release(walked);
  // A second destroy of the same device changes nothing.
  registry->destroy(registry->findById(id));
  EXPECT_EQ(command->refCount(), 1);
  EXPECT_TRUE(fs::exists(pictures));

  command.reset();  // the command ends: now the device goes, with its pictures
  EXPECT_EQ(registry->listedCount(), 1u);
  EXPECT_FALSE(fs::exists(pictures));
  EXPECT_TRUE(fs::exists(WorkFolders::folder(2)));
}

TEST(DeviceRegistry, DestroyByOwnerTakesOnlyTheFirstLiveDeviceOfThatConnection) {
  auto registry = DeviceRegistry::make();
  const uint32_t a = createDevice(*registry, "a", 7);
  const uint32_t b = createDevice(*registry, "b", 8);
  const uint32_t c = createDevice(*registry, "c", 7);
  // A later command from another connection makes that connection the owner.
  registry->findById(b)->session().updateOwner(7);
  registry->findById(a)->session().updateOwner(9);

  registry->destroy(registry->findByOwner(7));
  EXPECT_TRUE(registry->findById(a));
  EXPECT_FALSE(registry->findById(b));
  EXPECT_TRUE(registry->findById(c));
  registry->destroy(registry->findByOwner(7));
  EXPECT_FALSE(registry->findById(c));
  registry->destroy(registry->findByOwner(7));  // none left: nothing happens
  EXPECT_EQ(registry->countAlive(), 1);
  EXPECT_EQ(registry->findByOwner(9)->uniqueId(), a);
}

// Blocks every supervision pass until the test lets it go.
struct StuckPass {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool released = false;

  void run() {
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [this] { return released; });
  }
  bool waitEntered() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [this] { return entered; });
  }
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
};

TEST(DeviceRegistry, ShutdownDoesNotWaitForAStuckPassBeyondItsLimit) {
  auto stuck = std::make_shared<StuckPass>();
  std::weak_ptr<DeviceRegistry> watch;
  {
    auto registry = DeviceRegistry::make();
    watch = registry;
    registry->setPassHook([stuck] { stuck->run(); });
    ASSERT_TRUE(registry->start());
    EXPECT_FALSE(registry->start());
    const uint32_t id = createDevice(*registry, "dev");
    ASSERT_TRUE(stuck->waitEntered());

    // The pass is released only after shut-down returned, so a shut-down that
    // waited for it would never return; the watchdog turns that into a failure.
    auto done = std::async(std::launch::async, [&] { registry->shutdown(200ms); });
    const bool returned = done.wait_for(20s) == std::future_status::ready;
    if (!returned) stuck->release();
    ASSERT_TRUE(returned);
    EXPECT_TRUE(registry->isClosing());
    EXPECT_EQ(registry->listedCount(), 0u);  // unused entries were torn down
    EXPECT_FALSE(registry->findById(id));
  }
  // The left-behind thread keeps the registry alive until its pass ends, then
  // lets it go without touching freed memory.
  EXPECT_FALSE(watch.expired());
  stuck->release();
  for (int i = 0; i < 1000 && !watch.expired(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(watch.expired());
}

TEST(DeviceRegistry, ShutdownWithTheDefaultLimitReturnsAfterAboutFiveSeconds) {
  auto stuck = std::make_shared<StuckPass>();
  auto registry = DeviceRegistry::make();
  registry->setPassHook([stuck] { stuck->run(); });
  registry->start();
  ASSERT_TRUE(stuck->waitEntered());
  const auto began = std::chrono::steady_clock::now();
  auto done = std::async(std::launch::async, [&] { registry->shutdown(); });
  const bool returned = done.wait_for(20s) == std::future_status::ready;
  const auto took = std::chrono::steady_clock::now() - began;
  stuck->release();
  ASSERT_TRUE(returned);
  EXPECT_GE(took, 4900ms);
  EXPECT_LT(took, 8s);
}

TEST(DeviceRegistry, ShutdownKeepsEntriesThatAreStillInUse) {
  auto registry = DeviceRegistry::make();
  registry->start();
  const uint32_t kept = createDevice(*registry, "kept");
  createDevice(*registry, "gone");
  DeviceRef command = registry->findById(kept);
  registry->shutdown();
  EXPECT_EQ(registry->listedCount(), 1u);
  EXPECT_EQ(registry->countAlive(), 0);
  EXPECT_TRUE(command->closing());
  command.reset();  // no teardown while closing; the registry frees it at the end
  EXPECT_EQ(registry->listedCount(), 1u);
  CreateRecord late("late", 6060, 6066);
  EXPECT_NE(registry->create(late.param), KS_OK);
}

TEST(DeviceRegistry, ConcurrentCreateLookupAndDestroyKeepTheLimitAndTheIds) {
  auto registry = DeviceRegistry::make();
  registry->start();
  std::atomic<bool> stop{false};
  std::atomic<int> overLimit{0};
  std::mutex idsMutex;
  std::set<uint32_t> ids;
  std::atomic<int> duplicates{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 8; ++t) {
    workers.emplace_back([&, t] {
      std::mt19937 random(t);
      std::vector<uint32_t> mine;
      while (!stop.load()) {
        switch (random() % 4) {
          case 0: {
            CreateRecord record("dev" + std::to_string(t), 6060, 6066, 2, static_cast<uint32_t>(t));
            const int result = registry->create(record.param);
            if (result == KS_OK) {
              std::lock_guard lock(idsMutex);
              if (!ids.insert(record.param.uniqueId).second) ++duplicates;
              mine.push_back(record.param.uniqueId);
            } else if (result != KS_E_DEVICE_LIMIT) {
              ADD_FAILURE() << "create answered " << result;
            }
            break;
          }
          case 1: {
            // Any id, including other threads' devices being destroyed.
            DeviceRef ref = registry->findById(1 + random() % 64);
            if (ref) {
              ref->session().updateOwner(static_cast<uint32_t>(t));
              std::this_thread::yield();
              EXPECT_GT(ref->refCount(), 0);
            }
            break;
          }
          case 2:
            if (!mine.empty()) {
              destroyById(*registry, mine.back());
              mine.pop_back();
            } else {
              registry->destroy(registry->findById(1 + random() % 64));
            }
            break;
          default:
            registry->destroy(registry->findByOwner(static_cast<uint32_t>(random() % 8)));
            registry->silenceAll();
            break;
        }
        if (registry->countAlive() > DeviceRegistry::kMaxDevices) ++overLimit;
      }
    });
  }
  std::this_thread::sleep_for(2s);
  stop = true;
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(overLimit.load(), 0);
  EXPECT_EQ(duplicates.load(), 0);
  EXPECT_GT(ids.size(), 8u);
  // Everything left can be destroyed, and then nothing stays listed.
  for (uint32_t id : ids) destroyById(*registry, id);
  EXPECT_EQ(registry->listedCount(), 0u);
  registry->shutdown();
}

}  // namespace
}  // namespace ksplugs
