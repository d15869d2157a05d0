#pragma once
// The file a download writes. A path that comes from a page is held to strict
// rules, because a page must not be able to overwrite, truncate or reach
// through a link to any file of the user: it must be absolute, have no "."
// or ".." component, end in ".mp4" for MP4 output (".prv" otherwise), name a
// file in an existing directory and not name anything that exists. A path
// the user chose in the Save-As dialog (which asked before overwriting) may
// replace a file, but never through a link.
#include <string>

namespace ksplugs {

class TargetFile {
 public:
  // 0 when a page may have the download written to `path`, 3006 otherwise.
  // Touches nothing.
  static int checkPagePath(const std::string& path, bool mp4);
  // Creates the page's file: checkPagePath, then an exclusive create that
  // does not follow a link (mode 0600). 0 and the descriptor, or 3006.
  static int createForPage(const std::string& path, bool mp4, int* fd);
  // Opens the user's chosen file for writing, created or truncated, never
  // through a link. *created says whether the file is new. 0 or 3006.
  static int openChosen(const std::string& path, int* fd, bool* created);
};

}  // namespace ksplugs
