#pragma once
// The download address of a finished file: the local download server on the
// loopback address, path "/download/" followed by the file's path below its
// work folder. The server's port comes from a port source that the download
// server answers (tests install their own); port 0 means no server runs, and
// then no address can be given.
//
// Threads: the port source is set at start-up and read by the cells' UI
// thread; portSourceLock_ guards it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ksplugs {

class DownloadUrl {
 public:
  // The URL block of the download event holds at most this many bytes with
  // its terminating zero.
  static constexpr size_t kBlockSize = 260;

  using PortSource = std::function<uint16_t()>;
  // Installs the source of the server's port; an empty one restores the
  // library's download server.
  static void setPortSource(PortSource source);
  static uint16_t serverPort();

  // The URL of `path` (a file below the work folder `workFolder`, which ends
  // with '/'). Nothing when there is no server, when the path does not lie
  // below the folder, or when the URL would not fit the block: a cut URL
  // would name another file.
  static std::optional<std::string> forFile(const std::string& workFolder, const std::string& path);
};

}  // namespace ksplugs
