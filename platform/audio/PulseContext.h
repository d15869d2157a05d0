#pragma once
// One connection to a PulseAudio server (PipeWire serves the same
// protocol): a libpulse threaded main loop with its context. Sinks and
// sources of the process share one and keep it alive while they exist.
//
// The server is the one libpulse finds by itself (PULSE_SERVER, client.conf,
// the user's runtime folder); none is ever spawned.
//
// Threads: libpulse objects of this context are used only with the main
// loop's lock held (lock()/unlock(), so std::lock_guard<PulseContext> works);
// their callbacks run on the main loop's thread with the lock held. The last
// reference must never be dropped on that thread (a callback must not own
// one): stopping the loop joins it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

struct pa_context;
struct pa_threaded_mainloop;

namespace audio {

class PulseContext {
 public:
  // Connects and waits for the server's answer at most `timeout`; null, and
  // why in *error, when no server could be reached.
  static std::shared_ptr<PulseContext> connect(std::chrono::milliseconds timeout, std::string* error);
  ~PulseContext();
  PulseContext(const PulseContext&) = delete;
  PulseContext& operator=(const PulseContext&) = delete;

  // Connected and not lost since: false for good once the server went away.
  bool alive() const { return alive_.load(); }

  void lock();
  void unlock();
  // Use only under lock().
  pa_context* context() const { return context_; }

 private:
  PulseContext() = default;
  static void onState(pa_context* context, void* self);

  pa_threaded_mainloop* mainloop_ = nullptr;  // set by connect(), then fixed
  pa_context* context_ = nullptr;             // set by connect(), then fixed; used under the loop's lock
  std::atomic<bool> alive_{false};
  // Written by the state callback; connect() waits on it.
  std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  int state_ = 0;  // guarded by stateMutex_: the last pa_context_state_t
};

}  // namespace audio
