#pragma once
// One registered device: the registry's unit of counting and lookup. It owns
// the device session, the two docks with their anchors over the browser
// (one DockHost each) and the device's download task. It turns the page's
// commands into operations of its docks and never holds a video cell.
//
// Life: built by the registry, initialise() gives it its id and the creation
// reference; lookups add references; markClosing() hides it from lookups;
// the last release runs teardown() and deletes it.
//
// Threads: the reference count and the closing mark are atomics; the mark is
// set only under the registry lock so that a lookup (which checks the mark
// and adds its reference under that lock) can never revive a closing entry.
// Everything else is set up before the entry is listed and afterwards used by
// the threads that hold references. The anchors belong to the dock hosts,
// which guard them.
#include <atomic>
#include <cstdint>
#include <memory>

#include "plugin/api/ksplugs.h"
#include "plugin/device/DockHost.h"
#include "plugin/download/DownloadTask.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/video/VideoServices.h"
#include "plugin/video/live/CPreviewManager.h"
#include "plugin/video/playback/CPlaybackManager.h"

namespace ksplugs {

class DeviceEntry {
 public:
  // `services` go to the device's docks and cells.
  explicit DeviceEntry(std::shared_ptr<const VideoServices> services = nullptr);
  ~DeviceEntry();
  DeviceEntry(const DeviceEntry&) = delete;
  DeviceEntry& operator=(const DeviceEntry&) = delete;

  // Takes the id, copies the record into a new session (taking over its
  // stream block and writing the id into the record), creates both dock
  // objects and takes the creation reference. 0, or 1002 when something
  // cannot be allocated. An entry that has an id already answers 0 and
  // changes nothing.
  int initialise(uint32_t id, DeviceCreateParam& record);

  uint32_t uniqueId() const { return uniqueId_; }
  WebPlug_NCL::CDVSDevice& session() { return *session_; }
  const WebPlug_NCL::CDVSDevice& session() const { return *session_; }
  // The docks (null before initialise() and after teardown()).
  CPreviewManager* liveDock() { return liveDock_; }
  CPlaybackManager* playbackDock() { return playbackDock_; }
  DownloadTask& downloadTask() { return downloadTask_; }
  // Copies of the anchors, taken under their lock.
  DockAnchor liveAnchor() const { return live_ ? live_->anchor() : DockAnchor{}; }
  DockAnchor playbackAnchor() const { return playback_ ? playback_->anchor() : DockAnchor{}; }
  // Task ids of this device's downloads, from 1.
  int32_t nextDownloadTaskId() { return downloadTaskCounter_.fetch_add(1) + 1; }

  // Reference counting (the registry's business).
  void addRef() { refCount_.fetch_add(1, std::memory_order_relaxed); }
  // Answers the count left after the drop.
  int dropRef() { return refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
  int refCount() const { return refCount_.load(std::memory_order_acquire); }

  bool closing() const { return closing_.load(std::memory_order_acquire); }
  // Sets the closing mark and hides both dock windows. Answers true for the
  // call that set the mark, so that exactly one caller drops the creation
  // reference. Call under the registry lock.
  bool markClosingAndHide();

  // Audio of every live and playback cell off, and talk stopped.
  void silence();
  // Leaves full screen when the live-view dock window is in it; true then.
  bool leaveFullScreen();
  // Keeps the docks over their browser windows; run by every supervision pass.
  void trackDocks();
  // Stops everything the device runs and closes its docks. Runs after the
  // last reference went and the entry left the list, without the registry
  // lock (closing the cells' streams waits for the user-interface thread).
  void teardown();

  // The device commands of the exports; the export has looked the device up
  // and made the record's connection the owner. Playback and recording have
  // no docks to act on yet and answer 1009. A download start with an empty
  // path asks the user with the Save-As dialog on the calling thread.
  int liveControl(LiveControlParam& param);
  int playbackControl(PlaybackControlParam& param);
  int snapshot(SnapshotParam& param);
  int streamRecord(StreamRecordParam& param);
  int downloadControl(DownloadControlParam& param);
  int settings(DeviceSettingsParam& param, int reserved);
  // Creates a dock window over the page's browser window on the
  // user-interface thread (dock type 1 live, 2 playback; the playback dock
  // is a bare window until its player exists). DockHost::create's codes.
  int createDock(int dockType, void* param);

 private:
  int livePreview(LiveControlParam& param);
  int downloadStart(DownloadControlParam& param);
  // The owner of the Save-As dialog.
  ui::HWND dialogOwner() const;
  int liveShowDock(const LiveControlParam& param);
  bool loggedIn() const { return session_ && session_->loginHandle() != -1; }
  bool liveWindow() const { return live_ && live_->hasWindow(); }
  bool playbackWindow() const { return playback_ && playback_->hasWindow() && playbackDock_ != nullptr; }
  int playbackPreview(PlaybackControlParam& param);

  const std::shared_ptr<const VideoServices> services_;
  std::atomic<int> refCount_{0};
  uint32_t uniqueId_ = 0;  // set once by initialise() before the entry is listed
  std::atomic<int32_t> downloadTaskCounter_{0};
  std::atomic<bool> closing_{false};
  // Set once by initialise(); the hosts own the docks until teardown().
  std::unique_ptr<DockHost> live_;
  std::unique_ptr<DockHost> playback_;
  CPreviewManager* liveDock_ = nullptr;        // live_'s dock
  CPlaybackManager* playbackDock_ = nullptr;  // playback_'s dock
  DownloadTask downloadTask_;
  std::unique_ptr<WebPlug_NCL::CDVSDevice> session_;
};

}  // namespace ksplugs
