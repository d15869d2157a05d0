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
};

}  // namespace ksplugs
