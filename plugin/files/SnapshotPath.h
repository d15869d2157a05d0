#pragma once
// Names of the picture files a cell writes when the caller names none:
// "<image folder><MAC>/<channel>/<kind>_<Y>_<MM>_<DD>_<hh>_<mm>_<ss>_<n><ext>"
// with kind 1 for a live picture and 2 for a recorded one, the local time of
// the snapshot and the next number of the shared file counter.
#include <string>

#include "platform/sys/TimeText.h"

namespace ksplugs {

class SnapshotPath {
 public:
  // ".bmp" for format 1, ".jpg" for format 2, nothing for any other.
  static const char* extension(int format);
  // The folder of one channel's pictures below `imageFolder` (which ends
  // with '/'); empty when the MAC text cannot name a folder there.
  static std::string folder(const std::string& imageFolder, const std::string& macText, int channel);
  // The file name (no folder).
  static std::string fileName(bool live, const sys::CalendarTime& time, int counter, int format);

  // Whether a path chosen by the page may receive a picture of `format`:
  // absolute, no "." or ".." component, ending in ".bmp" (format 1) or
  // ".jpg"/".jpeg" (format 2), in a folder that exists, naming nothing that
  // exists yet (not even a dangling link). The file is still created only
  // by copyToNewFile, which is the check that counts.
  static bool acceptsPagePath(const std::string& path, int format);

  // Copies the file `from` to `to`, which is created new (never through a
  // link, never over an existing file), mode 0600. False when `to` cannot be
  // created or the copy fails; a half copy is removed again.
  static bool copyToNewFile(const std::string& from, const std::string& to);
};

}  // namespace ksplugs
