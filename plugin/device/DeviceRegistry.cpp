#include "plugin/device/DeviceRegistry.h"

#include <malloc.h>

#include <algorithm>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/WindowApi.h"
#include "plugin/files/WorkFolders.h"

namespace ksplugs {

void DeviceRef::reset() {
  if (entry_ != nullptr && registry_ != nullptr) registry_->release(entry_);
  entry_ = nullptr;
  registry_ = nullptr;
}

std::shared_ptr<DeviceRegistry> DeviceRegistry::make(std::shared_ptr<const VideoServices> services, uint32_t lastId) {
  return std::shared_ptr<DeviceRegistry>(new DeviceRegistry(std::move(services), lastId));
}

DeviceRegistry::DeviceRegistry(std::shared_ptr<const VideoServices> services, uint32_t lastId)
    : services_(std::move(services)), lastId_(lastId) {}

DeviceRegistry::~DeviceRegistry() {
  // Reached only when no supervision thread runs any more, since a running
  // one keeps the registry alive. Entries still listed were kept by
  // references that outlived a shut-down.
  for (DeviceEntry* entry : list_) {
    entry->teardown();
    delete entry;
  }
}

bool DeviceRegistry::start() {
  if (started_.exchange(true)) return false;
  std::shared_ptr<DeviceRegistry> self = shared_from_this();
  thread_ = std::thread([self] { self->supervise(); });
  return true;
}

void DeviceRegistry::supervise() {
  for (;;) {
    try {
      if (passHook_) passHook_();
      for (DeviceEntry* entry = next(nullptr); entry != nullptr; entry = next(entry)) {
        if (isClosing()) {
          release(entry);
          break;
        }
        entry->trackDocks();
      }
    } catch (...) {
      // A failed pass must not end the thread; the next pass tries again.
    }
    std::unique_lock lock(stopMutex_);
    if (stopSignal_.wait_for(lock, kPassInterval, [this] { return stopRequested_; })) break;
  }
  {
    std::lock_guard lock(stopMutex_);
    threadFinished_ = true;
  }
  stopSignal_.notify_all();
}

void DeviceRegistry::shutdown(std::chrono::milliseconds wait) {
  if (closing_.exchange(true, std::memory_order_acq_rel)) return;
  std::vector<DeviceEntry*> unlinked;
  {
    std::lock_guard lock(lock_);
    for (auto it = list_.begin(); it != list_.end();) {
      DeviceEntry* entry = *it;
      // An entry destroyed earlier gave up its creation reference already.
      const int left = entry->markClosingAndHide() ? entry->dropRef() : entry->refCount();
      if (left > 0) {
        ++it;
        continue;
      }
      it = list_.erase(it);
      unlinked.push_back(entry);
    }
  }
  // Torn down without the lock, as in release().
  for (DeviceEntry* entry : unlinked) {
    entry->teardown();
    delete entry;
  }
  {
    std::lock_guard lock(stopMutex_);
    stopRequested_ = true;
  }
  stopSignal_.notify_all();
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  // Messages are handled while waiting: a pass may be tearing down a device
  // whose docks live on this thread, and that teardown waits for it. Without
  // a window system there is nothing to handle and the wait is a plain one.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  bool finished = ui::pumpMessagesUntil(
      [this] {
        std::lock_guard lock(stopMutex_);
        return threadFinished_;
      },
      wait);
  if (!finished) {
    std::unique_lock lock(stopMutex_);
    finished = stopSignal_.wait_until(lock, deadline, [this] { return threadFinished_; });
  }
  // A pass stuck for longer keeps its own reference to the registry and
  // ends by itself; the shell's shut-down does not wait for it.
  if (finished) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

bool DeviceRegistry::recordComplete(const DeviceCreateParam& record) {
  return record.MAC[0] != '\0' && record.usr[0] != '\0' && record.address[0] != '\0' && record.cmdPort != 0 &&
         record.mediaPort != 0 && record.stream != nullptr && record.totalChannel >= 0 &&
         record.resShowBitrate[0] != 0 && record.resMainStream[0] != 0 && record.resSubStream[0] != 0 &&
         record.resThirdStream[0] != 0;
}

int DeviceRegistry::create(DeviceCreateParam& record) {
  if (!recordComplete(record)) return KS_E_INVALID;
  try {
    std::lock_guard lock(lock_);
    if (isClosing()) return KS_E_NOT_READY;
    // The limit check, the id and the append share one hold of the lock, so
    // concurrent creations can neither pass the limit nor skip ids.
    if (countAliveLocked() >= kMaxDevices) return KS_E_DEVICE_LIMIT;
    auto entry = std::make_unique<DeviceEntry>(services_);
    list_.reserve(list_.size() + 1);  // the append below cannot fail any more
    const uint32_t id = lastId_.fetch_add(1, std::memory_order_relaxed) + 1;
    int result = entry->initialise(id, record);
    if (result == KS_OK && buildHook_) result = buildHook_(*entry);
    if (result != KS_OK) {
      // The entry was never listed: dropping it leaves nothing reachable.
      record.uniqueId = 0;
      return KS_E_NO_MEMORY;
    }
    list_.push_back(entry.release());
    return KS_OK;
  } catch (...) {
    record.uniqueId = 0;
    return KS_E_NO_MEMORY;
  }
}

DeviceRef DeviceRegistry::findById(uint32_t id) {
  std::lock_guard lock(lock_);
  for (DeviceEntry* entry : list_) {
    if (entry->uniqueId() == id && !entry->closing()) {
      entry->addRef();
      return DeviceRef(this, entry);
    }
  }
  return {};
}

DeviceRef DeviceRegistry::findByOwner(uint32_t connection) {
  std::lock_guard lock(lock_);
  for (DeviceEntry* entry : list_) {
    if (!entry->closing() && entry->session().ownerConnection() == connection) {
      entry->addRef();
      return DeviceRef(this, entry);
    }
  }
  return {};
}

void DeviceRegistry::destroy(DeviceRef ref) {
  if (!ref) return;
  DeviceEntry* entry = ref.get();
  bool markedHere = false;
  {
    // Marked under the lock: a lookup checks the mark and takes its
    // reference under the same lock, so none can revive the entry.
    std::lock_guard lock(lock_);
    markedHere = entry->markClosingAndHide();
  }
  // Only the call that marked the entry owns its creation reference; two
  // destroys racing on one device drop it once. The lookup reference held by
  // `ref` keeps the count above 0 here; its release below, or that of a
  // command still running on the device, tears the entry down.
  if (markedHere) release(entry);
  ref.reset();
}

DeviceEntry* DeviceRegistry::next(DeviceEntry* previous) {
  DeviceEntry* pick = nullptr;
  {
    std::lock_guard lock(lock_);
    bool passed = previous == nullptr;
    for (DeviceEntry* entry : list_) {
      if (!passed) {
        passed = entry == previous;
        continue;
      }
      if (!entry->closing()) {
        entry->addRef();
        pick = entry;
        break;
      }
    }
  }
  // Released after the lock: dropping the last reference tears the device
  // down, which waits for the user-interface thread, and that thread may be
  // waiting for the lock (shut-down, a dock being created).
  release(previous);
  return pick;
}

void DeviceRegistry::release(DeviceEntry* entry) {
  if (entry == nullptr) return;
  if (entry->dropRef() > 0 || isClosing()) return;
  std::string folder;
  {
    std::lock_guard lock(lock_);
    auto it = std::find(list_.begin(), list_.end(), entry);
    if (it == list_.end()) return;
    try {
      folder = WorkFolders::deviceImageFolder(entry->session().macText());
    } catch (...) {
      folder.clear();  // without memory for the path the pictures stay until the next start
    }
    list_.erase(it);
  }
  // The entry is unlinked and unreferenced, so nothing else can reach it.
  // Its teardown runs without the registry lock: closing the cells' streams
  // waits for the user-interface thread, which may itself be waiting for the
  // lock (a dock being created, the Escape key), and holding the lock here
  // would deadlock the two.
  entry->teardown();
  delete entry;
  WorkFolders::deleteTree(folder);
  // A device's streams held decoders, pictures and queues on many threads'
  // heaps; the freed pages go back to the system, so a shell that serves
  // pages for days does not keep the high-water mark of every device it had.
  ::malloc_trim(0);
}

int DeviceRegistry::countAliveLocked() const {
  return static_cast<int>(std::count_if(list_.begin(), list_.end(), [](const DeviceEntry* e) { return !e->closing(); }));
}

int DeviceRegistry::countAlive() {
  std::lock_guard lock(lock_);
  return countAliveLocked();
}

size_t DeviceRegistry::listedCount() {
  std::lock_guard lock(lock_);
  return list_.size();
}

void DeviceRegistry::silenceAll() {
  for (DeviceEntry* entry = next(nullptr); entry != nullptr; entry = next(entry)) entry->silence();
}

void DeviceRegistry::escapeAction() {
  for (DeviceEntry* entry = next(nullptr); entry != nullptr; entry = next(entry)) {
    if (isClosing() || entry->leaveFullScreen()) {
      release(entry);
      return;
    }
  }
}

}  // namespace ksplugs
