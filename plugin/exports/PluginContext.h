#pragma once
// Everything a started library owns: the device registry with its
// supervision thread, the download server, the path of events to the shell,
// the Escape key hook, and what the docks and cells are handed (the
// recording sink, the overlay factory, the clock that names files). It is
// the one place that wires implementations to the interfaces the lower
// folders use; everything below receives its parts by reference.
//
// KsComGlobalInit builds and starts one, KsComGlobalUninit stops and drops
// it, so the library can start and stop any number of times in a process.
//
// Sound: a started context has streams play through the sound server and
// talk take the microphone (platform/audio) when a server is reachable, and
// the null sink and silence otherwise; stop() takes both back.
//
// Threads: built and stopped by the shell's start-up and shut-down thread.
// The exports use it from command threads and the UI thread while they hold
// a shared pointer to it; the key hook reaches it through a weak pointer.
// Its parts are set in the constructor and never replaced.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/sys/TimeText.h"
#include "plugin/device/DeviceRegistry.h"
#include "plugin/files/DownloadServer.h"
#include "plugin/recording/RecordingQueue.h"
#include "plugin/session/NotifyDispatcher.h"
#include "plugin/video/CellOverlay.h"
#include "plugin/video/RecordingSink.h"
#include "plugin/video/VideoServices.h"

namespace ksplugs {

// What a context is built with; what is left empty gets the library's own.
// The sink, the factory and the clock are the seams tests fill.
struct PluginOptions {
  std::shared_ptr<RecordingSink> recording;
  CellOverlay::Factory overlays;
  std::function<sys::CalendarTime()> clock;
  // Device ids continue after this one.
  uint32_t lastDeviceId = 0;
};

class PluginContext {
 public:
  using Options = PluginOptions;

  static std::shared_ptr<PluginContext> make(Options options = {});
  ~PluginContext();
  PluginContext(const PluginContext&) = delete;
  PluginContext& operator=(const PluginContext&) = delete;

  // Starts the device SDK, the supervision thread, the download server and
  // the Escape key hook, and clears the work folders of an earlier run.
  // Nothing of it is checked: a part that failed to start leaves the
  // commands that need it answering their own codes.
  void start();
  // Stops everything start() started, in reverse order, the SDK last; once,
  // and only after start(): a context that a late command kept alive after
  // the library was started anew must not stop the new one's SDK when it goes.
  void stop();

  DeviceRegistry& registry() { return *registry_; }
  DownloadServer& downloads() { return *downloads_; }
  NotifyDispatcher& events() { return *services_->events; }
  const VideoServices& services() const { return *services_; }

 private:
  explicit PluginContext(Options options);
  static std::shared_ptr<const VideoServices> makeServices(Options& options,
                                                           const std::shared_ptr<DownloadServer>& downloads,
                                                           std::shared_ptr<RecordingQueue>& recordings);
  void installKeyHook();
  void removeKeyHook();
  static void installSound();
  static void removeSound();

  std::shared_ptr<DownloadServer> downloads_;
  // The library's recording queue behind services_->recording; null when
  // the options brought a sink of their own. Shut down by stop().
  std::shared_ptr<RecordingQueue> recordings_;
  std::shared_ptr<const VideoServices> services_;
  std::shared_ptr<DeviceRegistry> registry_;
  int keyHook_ = 0;  // id of the Escape hook, 0 when none; start() and stop() only
  std::atomic<bool> started_{false};  // between start() and stop()
};

}  // namespace ksplugs
