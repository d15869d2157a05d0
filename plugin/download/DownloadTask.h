#pragma once
// The recording download of one device. A device runs at most one download
// at a time; its handle is -1 while none runs. Until downloads are built, no
// download can start, so stopping has nothing to end.
#include <atomic>
#include <cstdint>

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class DownloadTask {
 public:
  DownloadTask() = default;
  DownloadTask(const DownloadTask&) = delete;
  DownloadTask& operator=(const DownloadTask&) = delete;

  // The session the download logs in with; owned by the device entry.
  void setSession(WebPlug_NCL::CDVSDevice* session) { session_ = session; }
  WebPlug_NCL::CDVSDevice* session() const { return session_; }

  int32_t handle() const { return handle_.load(std::memory_order_acquire); }
  // Ends a running download and waits for it; nothing when none runs.
  void stop();

 private:
  WebPlug_NCL::CDVSDevice* session_ = nullptr;  // set once before the entry is shared
  std::atomic<int32_t> handle_{-1};
};

}  // namespace ksplugs
