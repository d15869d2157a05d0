#pragma once
// The library's list of devices. It creates devices from the shell's record,
// hands out counted references by id or by owner connection, tears a device
// down when its last reference goes, counts live devices, silences audio on
// all of them, runs the Escape action, and runs the supervision thread that
// keeps every device's docks over their browser windows.
//
// Entries: the list holds one reference per entry (the creation reference);
// every lookup adds one. Destroying a device marks it closing (invisible to
// lookups, walks and the count) and drops the creation reference; whoever
// drops the last reference tears the entry down.
//
// Threads: the shell's command threads (exports), its user-interface thread
// (dock creation), the key hook's thread (Escape) and the supervision thread.
// lock_ guards the list; an entry is unlinked under it and torn down after
// it is released (teardown waits for the user-interface thread, which may
// be waiting for the lock). Reference counts are atomic and change inside
// and outside the lock. The supervision thread holds
// one referenced entry at a time and never the lock while it works on it.
//
// The supervision thread keeps the registry alive (it holds a shared
// pointer), so a shut-down that gives up waiting for a stuck pass can leave
// the thread behind without it ever touching freed memory.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "plugin/api/ksplugs.h"
#include "plugin/device/DeviceEntry.h"
#include "plugin/device/DeviceRef.h"

namespace ksplugs {

class DeviceRegistry : public std::enable_shared_from_this<DeviceRegistry> {
 public:
  static constexpr int kMaxDevices = 8;
  static constexpr std::chrono::milliseconds kPassInterval{150};
  static constexpr std::chrono::milliseconds kStopWait{5000};

  // A new registry whose devices hand `services` to their docks and cells
  // (null: services that record nothing and drop events) and whose ids
  // continue after `lastId`, so that a library started again in the same
  // process never hands out an id twice. start() needs the registry to be
  // owned by a shared pointer, which this gives.
  static std::shared_ptr<DeviceRegistry> make(std::shared_ptr<const VideoServices> services = nullptr,
                                              uint32_t lastId = 0);

  ~DeviceRegistry();
  DeviceRegistry(const DeviceRegistry&) = delete;
  DeviceRegistry& operator=(const DeviceRegistry&) = delete;

  // Starts the supervision thread. Once only; false afterwards.
  bool start();
  // Marks every device closing and tears down those nobody uses, then stops
  // the supervision thread, waiting for it at most `wait`. Entries still in
  // use stay listed; releases no longer tear anything down.
  void shutdown(std::chrono::milliseconds wait = kStopWait);
  bool isClosing() const { return closing_.load(std::memory_order_acquire); }

  // 0 with the id written into the record; 1000 for an incomplete record
  // (no id is used), 1018 at the device limit (no id is used), 1002 when
  // building failed (nothing of the device stays reachable).
  int create(DeviceCreateParam& record);

  // The first live entry with the id / owned by the connection, referenced.
  DeviceRef findById(uint32_t id);
  DeviceRef findByOwner(uint32_t connection);
  // Marks the referenced entry closing, hides its docks and drops its
  // creation reference; `ref` is released too. Nothing when `ref` is empty.
  void destroy(DeviceRef ref);

  // Walks the live entries: next(nullptr) gives the first, referenced;
  // next(previous) releases previous and gives the one after it.
  DeviceEntry* next(DeviceEntry* previous);
  // Drops one reference; the last one tears the entry down and deletes it,
  // then removes the device's picture folder.
  void release(DeviceEntry* entry);

  int countAlive();
  // The last id handed out (0 before the first).
  uint32_t lastId() const { return lastId_.load(std::memory_order_acquire); }
  // Entries in the list, closing ones included.
  size_t listedCount();
  // Audio off and talk stopped on every device, so that only one source plays.
  void silenceAll();
  // The first device whose live dock is in full screen leaves it.
  void escapeAction();

  // Runs at the start of every supervision pass. Set it before start().
  void setPassHook(std::function<void()> hook) { passHook_ = std::move(hook); }
  // Runs on a built entry just before it is listed; an answer other than 0,
  // or an exception, fails the creation as a failure to build. For tests of
  // the failure path. Set it before creations start.
  void setBuildHook(std::function<int(DeviceEntry&)> hook) { buildHook_ = std::move(hook); }

 private:
  DeviceRegistry(std::shared_ptr<const VideoServices> services, uint32_t lastId);

  static bool recordComplete(const DeviceCreateParam& record);
  int countAliveLocked() const;
  void supervise();

  const std::shared_ptr<const VideoServices> services_;  // never changed
  std::atomic<bool> closing_{false};
  std::atomic<uint32_t> lastId_{0};

  std::recursive_mutex lock_;
  std::vector<DeviceEntry*> list_;  // guarded by lock_; owns the entries, in creation order

  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopRequested_ = false;   // guarded by stopMutex_
  bool threadFinished_ = false;  // guarded by stopMutex_
  std::thread thread_;           // started once by start(); joined or detached by shutdown()
  std::atomic<bool> started_{false};

  std::function<void()> passHook_;               // set before start()
  std::function<int(DeviceEntry&)> buildHook_;  // set before creations
};

}  // namespace ksplugs
