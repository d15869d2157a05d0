#pragma once
// A stand-in for the plug-in library at the export-table seam, for handler
// tests: it records a copy of every record that reaches it (with the texts
// and arrays hung on it, copied while they are still valid) and answers
// with scripted results.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "shell/command/PluginApi.h"

namespace kestrova::testing {

class ScriptedPlugin {
 public:
  // Results to answer, in order; when empty, `defaultResult`.
  std::deque<int> results;
  int defaultResult = 0;

  // Every call by export name, in order.
  std::vector<std::string> calls;

  std::vector<DeviceCreateParam> creates;
  std::vector<std::vector<uint8_t>> createStreams;  // bytes of `stream` at call time
  std::vector<DestroyParam> destroys;
  std::vector<LiveControlParam> lives;
  std::vector<PlaybackControlParam> playbacks;
  std::vector<SnapshotParam> snapshots;
  std::vector<StreamRecordParam> records;
  std::vector<PlaybackQueryParam> queries;
  std::vector<DownloadControlParam> downloads;
  std::vector<DeviceSettingsParam> settings;
  std::vector<std::pair<int, void*>> docks;

  // Optional hooks that run inside the call, on the caller's record (to write
  // out-fields or inspect the texts while they are valid).
  std::function<void(DeviceCreateParam&)> onCreate;
  std::function<void(LiveControlParam&)> onLive;
  std::function<void(PlaybackControlParam&)> onPlayback;
  std::function<void(SnapshotParam&)> onSnapshot;
  std::function<void(StreamRecordParam&)> onRecord;
  std::function<void(DownloadControlParam&)> onDownload;
  std::function<void(DeviceSettingsParam&)> onSettings;

  // Installs this object as the target of api().
  ScriptedPlugin() { current() = this; }
  ~ScriptedPlugin() { current() = nullptr; }
  ScriptedPlugin(const ScriptedPlugin&) = delete;
  ScriptedPlugin& operator=(const ScriptedPlugin&) = delete;

  static const PluginApi& api() {
    static const PluginApi table{
        [] { return current()->next("globalInit"); },
        [] { return current()->next("globalUninit"); },
        [](NotifyCallback, void*) { return current()->next("initActiveNotify"); },
        [] { return current()->next("getAliveDeviceCount"); },
        [](DeviceCreateParam* p) {
          auto* s = current();
          s->creates.push_back(*p);
          s->createStreams.emplace_back(p->stream, p->stream + (p->totalChannel > 0 ? p->totalChannel : 0));
          if (s->onCreate) s->onCreate(*p);
          return s->next("createDevice");
        },
        [](DestroyParam* p) { current()->destroys.push_back(*p); return current()->next("destroyObject"); },
        [](int type, void* p) { current()->docks.emplace_back(type, p); return current()->next("createPreviewerDock"); },
        [](LiveControlParam* p) {
          auto* s = current();
          s->lives.push_back(*p);
          if (s->onLive) s->onLive(*p);
          return s->next("deviceLiveControl");
        },
        [](PlaybackControlParam* p) {
          auto* s = current();
          s->playbacks.push_back(*p);
          if (s->onPlayback) s->onPlayback(*p);
          return s->next("devicePlaybackControl");
        },
        [](SnapshotParam* p) {
          auto* s = current();
          s->snapshots.push_back(*p);
          if (s->onSnapshot) s->onSnapshot(*p);
          return s->next("snapshot");
        },
        [](StreamRecordParam* p) {
          auto* s = current();
          s->records.push_back(*p);
          if (s->onRecord) s->onRecord(*p);
          return s->next("streamRecord");
        },
        [](void* q, uintptr_t) {
          current()->queries.push_back(*static_cast<PlaybackQueryParam*>(q));
          return current()->next("playbackQuery");
        },
        [](DownloadControlParam* p) {
          auto* s = current();
          s->downloads.push_back(*p);
          if (s->onDownload) s->onDownload(*p);
          return s->next("downloadControl");
        },
        [](DeviceSettingsParam* p, int) {
          auto* s = current();
          s->settings.push_back(*p);
          if (s->onSettings) s->onSettings(*p);
          return s->next("deviceSettings");
        },
    };
    return table;
  }

 private:
  static ScriptedPlugin*& current() {
    static ScriptedPlugin* instance = nullptr;
    return instance;
  }

  int next(const char* name) {
    calls.emplace_back(name);
    if (results.empty()) return defaultResult;
    const int r = results.front();
    results.pop_front();
    return r;
  }
};

}  // namespace kestrova::testing
