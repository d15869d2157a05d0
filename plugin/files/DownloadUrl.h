#pragma once
// The download address of a finished file: the local download server on the
// loopback address, path "/download/" followed by the file's path below its
// work folder. Port 0 means no server runs, and then no address can be given.
// A pure function: any thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ksplugs {

class DownloadUrl {
 public:
  // The URL block of the download event holds at most this many bytes with
  // its terminating zero.
  static constexpr size_t kBlockSize = 260;

  // The URL of `path` (a file below the work folder `workFolder`, which ends
  // with '/') on the server at `port`. Nothing when there is no server, when the path does not lie
  // below the folder, or when the URL would not fit the block: a cut URL
  // would name another file.
  static std::optional<std::string> forFile(uint16_t port, const std::string& workFolder, const std::string& path);
};

}  // namespace ksplugs
