#include "plugin/files/SnapshotPath.h"

#include <cstdio>

#include "plugin/files/WorkFolders.h"

namespace ksplugs {

const char* SnapshotPath::extension(int format) {
  if (format == 1) return ".bmp";
  if (format == 2) return ".jpg";
  return "";
}

std::string SnapshotPath::folder(const std::string& imageFolder, const std::string& macText, int channel) {
  // The MAC text comes from the page: it must stay one folder name below the
  // image folder, never climb out of it.
  if (!WorkFolders::isPlainFolderName(macText)) return {};
  return imageFolder + macText + "/" + std::to_string(channel);
}

std::string SnapshotPath::fileName(bool live, const sys::CalendarTime& t, int counter, int format) {
  char name[128];
  std::snprintf(name, sizeof name, "%d_%d_%02d_%02d_%02d_%02d_%02d_%d%s", live ? 1 : 2, t.year, t.month, t.day,
                t.hour, t.minute, t.second, counter, extension(format));
  return name;
}

}  // namespace ksplugs
