#include "plugin/exports/PluginContext.h"

#include <utility>

#include "platform/audio/SoundServer.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WindowApi.h"
#include "plugin/device/RecordingBridge.h"
#include "plugin/exports/SettingsOverlay.h"
#include "plugin/files/WorkFolders.h"
#include "plugin/recording/Mp4Writer.h"
#include "plugin/session/TalkMicrophone.h"

namespace ksplugs {

std::shared_ptr<const VideoServices> PluginContext::makeServices(Options& options,
                                                                const std::shared_ptr<DownloadServer>& downloads,
                                                                std::shared_ptr<RecordingQueue>& recordings) {
  auto services = std::make_shared<VideoServices>();
  if (options.recording) {
    services->recording = std::move(options.recording);
  } else {
    // The library's own recorder: MP4 files through the stream converter
    // when this build has it, announced to the cells.
    RecordingQueue::Options queue;
    queue.writers = converterWriterFactory();
    queue.counter = services->fileCounter;
    queue.clock = options.clock;
    queue.announce = &RecordingBridge::announceToCell;
    recordings = std::make_shared<RecordingQueue>(std::move(queue));
    services->recording = std::make_shared<RecordingBridge>(recordings);
  }
  if (options.overlays) {
    services->overlays = std::move(options.overlays);
  } else {
    // The library's own settings editors.
    services->overlays = []() -> std::unique_ptr<CellOverlay> { return std::make_unique<SettingsOverlay>(); };
  }
  services->clock = std::move(options.clock);
  // A cell may ask for an address after the library stopped: the server is
  // then gone and there is no address to give.
  std::weak_ptr<DownloadServer> server = downloads;
  services->downloadPort = [server]() -> uint16_t {
    const std::shared_ptr<DownloadServer> running = server.lock();
    return running ? running->port() : 0;
  };
  return services;
}

std::shared_ptr<PluginContext> PluginContext::make(Options options) {
  return std::shared_ptr<PluginContext>(new PluginContext(std::move(options)));
}

PluginContext::PluginContext(Options options)
    : downloads_(std::make_shared<DownloadServer>()),
      services_(makeServices(options, downloads_, recordings_)),
      registry_(DeviceRegistry::make(services_, options.lastDeviceId)) {}

// A started context dropped without stop() still ends its threads.
PluginContext::~PluginContext() { stop(); }

void PluginContext::start() {
  if (started_.exchange(true)) return;
  DLSDK_StartUp();
  DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 15000);
  DLSDK_SetAttribute(DLSDK_ATTR_RECEIVE_BUFFER, 0x200000);
  DLSDK_SetAttribute(DLSDK_ATTR_SEND_BUFFER, 0x200000);
  try {
    registry_->start();
  } catch (...) {
    // Without the supervision thread devices still work; their docks are
    // only not kept over the browser.
  }
  // A server that cannot start leaves the announced addresses leading
  // nowhere, nothing more.
  downloads_->start();
  installKeyHook();
  installSound();
  // Files of an earlier run are of no use any more.
  try {
    WorkFolders::deleteTree(WorkFolders::root());
  } catch (...) {
  }
}

void PluginContext::stop() {
  if (!started_.exchange(false)) return;
  removeKeyHook();
  // Streams and talk channels opened from now on get no sound; the ones
  // the registry closes below end theirs.
  removeSound();
  // The cells the registry closes below stop their recordings; what they
  // recorded so far stays on disk.
  if (recordings_) recordings_->keepUnannouncedFiles();
  try {
    registry_->shutdown();
  } catch (...) {
  }
  // The cells closed above stopped their recordings; the queue's last pass
  // finalises them (writes their last fragment) before its worker ends.
  if (recordings_) recordings_->shutdown();
  // Downloads still running end with the library.
  downloads_->stop();
  DLSDK_CleanUp();
  // Sinks of streams that outlive the library keep the connection alive.
  audio::SoundServer::instance().release();
}

void PluginContext::installSound() {
  // The server is reached on the first stream or talk that needs it; when
  // there is none the factories answer null, which means the null sink and
  // a silent talk channel.
  devlink::DisplayTable::instance().setSinkFactory([] { return audio::SoundServer::instance().makeSink(); });
  TalkMicrophone::setSourceFactory([] { return audio::SoundServer::instance().makeSource(); });
}

void PluginContext::removeSound() {
  devlink::DisplayTable::instance().setSinkFactory(nullptr);
  TalkMicrophone::setSourceFactory(nullptr);
}

void PluginContext::installKeyHook() {
  if (keyHook_ != 0) return;
  // Escape released anywhere on the desktop takes the first full-screen live
  // dock out of full screen. The key is always passed on.
  std::weak_ptr<DeviceRegistry> registry = registry_;
  auto onKey = [registry](ui::UINT message, ui::UINT virtualKey) {
    if (message != ui::WM_KEYUP || virtualKey != ui::VK_ESCAPE) return false;
    try {
      if (std::shared_ptr<DeviceRegistry> devices = registry.lock()) devices->escapeAction();
    } catch (...) {
      // Nothing may unwind into the window layer's input thread.
    }
    return false;
  };
  try {
    // Without a window system (a shell without a desktop, unit tests) there
    // is no key input to watch, and the id is 0.
    keyHook_ = ui::installKeyHook(onKey);
  } catch (...) {
    // Without the hook, Escape simply does not leave full screen.
    keyHook_ = 0;
  }
}

void PluginContext::removeKeyHook() {
  if (keyHook_ <= 0) return;
  ui::removeKeyHook(keyHook_);
  keyHook_ = 0;
}

}  // namespace ksplugs
