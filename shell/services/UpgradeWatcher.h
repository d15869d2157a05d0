#pragma once
// The background upgrade watcher of the shell.
//
// Soon after start-up it asks the upgrade service whether a newer package
// exists for the running version and downloads it into a private folder
// (0700, a fresh name below the temporary folder), retrying after an
// interval until one download completes. Only a package on the upgrade
// service's own scheme and host is fetched. It then waits
// until no device is open, sets `upgradePending` (every command is refused
// from then on) and asks the shell to close; the shutdown path starts the
// installer with the package (launchInstaller).
//
// Threads: one watcher thread, started by start() and ended by stop(). The
// hooks run on that thread. Between attempts the thread waits on a condition
// variable, and a transfer in flight polls the stop flag, so stop() returns
// promptly even while a download without time-outs is waiting.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "shell/services/HttpClient.h"
#include "shell/services/ServiceConfig.h"

namespace kestrova {

class UpgradeWatcher {
 public:
  struct Hooks {
    // Number of devices still alive in the plug-in library.
    std::function<int()> aliveDeviceCount;
    // Asks the shell to close (the application posts WM_CLOSE to its window).
    std::function<void()> requestClose;
    // Stores the path of a completely downloaded package for shutdown.
    std::function<void(const std::string&)> setPendingInstaller;
  };

  UpgradeWatcher(Hooks hooks, std::atomic<bool>& upgradePending,
                 ServiceConfig config = ServiceConfig::fromEnvironment());
  ~UpgradeWatcher();  // stops and joins
  UpgradeWatcher(const UpgradeWatcher&) = delete;
  UpgradeWatcher& operator=(const UpgradeWatcher&) = delete;

  // Starts the watcher thread; a second call does nothing.
  void start();
  // Ends the thread and joins it. Safe to call more than once.
  void stop();

  // One attempt: query, parse, download. True only when the package was
  // downloaded completely; then the hook received its path (a file 0600 in
  // a folder 0700 of its own). A failed download deletes its partial file
  // and its folder; a package on another scheme or host is refused with a
  // line on stderr. Runs on the calling thread (tests call it).
  bool fetchUpgrade();

  // "1.0.0-19700101" from the compiled "1.0.0.1": the first three parts.
  static std::string versionText(const std::string& fourPartVersion);
  // The package URL of an upgrade reply ("hostip:port/URI"), or empty when
  // the reply is not XML.
  static std::string packageUrl(const std::string& xml);
  // True when `url` has the scheme and host of `server` (any case; ports
  // may differ); false when either has no scheme or host.
  static bool sameSchemeAndHost(const std::string& server, const std::string& url);

 private:
  void run();
  // Waits for the interval; false when stop() was called meanwhile.
  bool pause();

  const Hooks hooks_;
  std::atomic<bool>& upgradePending_;
  const ServiceConfig config_;
  std::atomic<bool> stopping_{false};  // also polled by transfers in flight
  const HttpClient http_{&stopping_};
  std::mutex mutex_;              // guards the wake-up of pause()
  std::condition_variable wake_;  // notified by stop()
  std::thread thread_;            // touched only by start(), stop() and the destructor
};

// Starts `kesmend` from the shell's own folder with the package path, the
// shell's file name and the process id, in its own session so that it
// outlives the shell. False when it could not be started.
bool launchInstaller(const std::string& packagePath);
// The same with the installer's folder given (tests use their own folder).
bool launchInstallerFrom(const std::string& folder, const std::string& packagePath);

}  // namespace kestrova
