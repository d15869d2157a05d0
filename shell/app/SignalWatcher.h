#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a close request of the main window.
//
// The signal handler only writes one byte to a pipe (async-signal-safe); a
// watcher thread reads it and runs the close action, which posts WM_CLOSE to
// the window, so the shutdown itself runs on the user-interface thread.
#include <atomic>
#include <functional>
#include <thread>

namespace kestrova {

class SignalWatcher {
 public:
  explicit SignalWatcher(std::function<void()> onSignal);
  ~SignalWatcher();  // restores the default actions and joins the thread
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void run();

  std::function<void()> onSignal_;  // set at construction, called on thread_
  int pipe_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace kestrova
