#pragma once
// The local download server: hands the files the library produces in its
// work folders (recordings, pictures) to the page as plain HTTP addresses on
// 127.0.0.1, "http://127.0.0.1:<port>/download/<path below the folder>".
//
// One request handler serves "/download/<path>": a path ending in ".mp4"
// (any case) is looked up in the video folder, anything else in the image
// folder. It answers 501 for a method other than GET (any case), 404 for a
// file that is missing, cannot be opened or would lie outside its folder (a
// ".." step, an absolute path, a symbolic link anywhere on the way), 406
// for an empty file and 500 for a file of 4 GiB or more. A found file is
// streamed from an open descriptor, so memory stays small whatever its size.
//
// Threads: start() and stop() may be called from any thread (mutex_ orders
// them). The serving thread runs every request; the handler touches only the
// file system. The port is written before the serving thread starts and
// read by whoever builds addresses.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/webframework/Request.h"
#include "platform/webframework/Response.h"

namespace webframework {
class WebServer;
}

namespace ksplugs {

class DownloadServer {
 public:
  // Addresses are handed to the page in 260-byte blocks, terminator included.
  static constexpr size_t kAddressBuffer = 260;
  static constexpr int kStartAttempts = 10;
  // Files this large or larger are refused with 500.
  static constexpr uint64_t kFileSizeLimit = uint64_t{1} << 32;

  // Answers the next port to try.
  using PortPicker = std::function<uint16_t()>;

  struct Folders {
    std::string video;  // with the trailing '/'
    std::string image;
  };

  DownloadServer();
  ~DownloadServer();
  DownloadServer(const DownloadServer&) = delete;
  DownloadServer& operator=(const DownloadServer&) = delete;

  // Up to kStartAttempts tries, each on a random port from 1024 to 31023
  // (or the picker's), then the serving thread. True when a server runs
  // (also when one ran already). After failing, no server runs and port()
  // keeps the last port tried: addresses then lead nowhere, which is all a
  // failed start costs.
  bool start();
  bool start(const PortPicker& picker);
  // Ends the serving thread; open downloads are cut. Nothing when not running.
  void stop();
  bool running() const;
  uint16_t port() const { return port_.load(std::memory_order_acquire); }

  // The address of `relativePath` (below its kind's folder; '\\' becomes
  // '/'), or empty when it would not fit kAddressBuffer: an address cut short
  // would name another file.
  std::string addressFor(std::string_view relativePath) const { return addressFor(port(), relativePath); }
  static std::string addressFor(uint16_t port, std::string_view relativePath);
  // The address of a file given by its full path inside the video or image
  // work folder; empty for a file elsewhere or an address that does not fit.
  std::string addressForFile(std::string_view path) const;

  // The request handler, a function of the request and the two folders.
  static webframework::Response handle(const webframework::Request& request, const Folders& folders);
  // The work folders as they are now.
  static Folders currentFolders();

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<webframework::WebServer> server_;  // guarded by mutex_
  std::thread thread_;                                // guarded by mutex_
  std::atomic<uint16_t> port_{0};
};

}  // namespace ksplugs
