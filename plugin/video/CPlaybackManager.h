#pragma once
// The playback dock of one device. For now it is the object alone: its
// window and player cells are created later on the user-interface thread, so
// every window operation here answers as a dock without a window.
namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

class CPlaybackManager {
 public:
  CPlaybackManager() = default;
  CPlaybackManager(const CPlaybackManager&) = delete;
  CPlaybackManager& operator=(const CPlaybackManager&) = delete;

  // The session the dock plays recordings from; owned by the device entry,
  // which outlives the dock object.
  void setSession(WebPlug_NCL::CDVSDevice* session) { session_ = session; }
  WebPlug_NCL::CDVSDevice* session() const { return session_; }

  bool hasWindow() const { return false; }
  // Hides the dock window; nothing to do without one.
  void hide() {}
  bool isFullScreen() const { return false; }
  // Releases the player of a running playback; nothing runs without a window.
  void releasePlayer() {}
  // Asks the window to close and delete itself. False when there is no
  // window: the owner then deletes the object.
  bool postClose() { return false; }

 private:
  WebPlug_NCL::CDVSDevice* session_ = nullptr;  // set once before the entry is shared
};

}  // namespace ksplugs
