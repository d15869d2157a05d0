#pragma once
// The live-view dock of one device. For now it is the object alone: its
// window, cells and split layouts are created later on the user-interface
// thread, so every window operation here answers as a dock without a window.
#include <atomic>
#include <cstdint>

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class CPreviewManager {
 public:
  CPreviewManager() = default;
  CPreviewManager(const CPreviewManager&) = delete;
  CPreviewManager& operator=(const CPreviewManager&) = delete;

  // The session the dock's cells play from; owned by the device entry, which
  // outlives the dock object.
  void setSession(WebPlug_NCL::CDVSDevice* session) { session_ = session; }
  WebPlug_NCL::CDVSDevice* session() const { return session_; }

  bool hasWindow() const { return false; }
  // Hides the dock window; nothing to do without one.
  void hide() {}
  bool isFullScreen() const { return false; }
  // Takes a layout type; 0 keeps the current one (and leaves full screen).
  void setLayout(uint32_t layout);
  uint32_t layout() const { return layout_.load(std::memory_order_acquire); }
  // Asks the window to close and delete itself. False when there is no
  // window: the owner then deletes the object.
  bool postClose() { return false; }

 private:
  WebPlug_NCL::CDVSDevice* session_ = nullptr;  // set once before the entry is shared
  std::atomic<uint32_t> layout_{0};
};

}  // namespace ksplugs
