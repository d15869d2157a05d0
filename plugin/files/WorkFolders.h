#pragma once
// The folders the library keeps its own files in, below the user's temporary
// folder: pictures, recordings while they are converted, and debug event
// data. The whole tree is wiped at start-up, and a device's picture folder
// when the device is torn down. Nothing here creates a folder: producers
// create what they need.
#include <string>
#include <string_view>

namespace ksplugs {

enum class WorkFolderKind { kVideo = 1, kImage = 2, kDebugEvent = 3 };

class WorkFolders {
 public:
  // Kinds 1 to 3 answer "<temp>/Kestrova/Video/", ".../Image/" and
  // ".../DebugEvent/" (with the trailing separator); any other kind answers
  // the temporary folder itself without its trailing separator.
  static std::string folder(int kind);
  static std::string folder(WorkFolderKind kind) { return folder(static_cast<int>(kind)); }

  // "<temp>/Kestrova": the root of every work folder.
  static std::string root();

  // The picture folder of one device: the image folder followed by the
  // device's MAC text. Empty when the text cannot name a single folder below
  // the image folder (empty, ".", "..", or holding a '/' or a zero byte), so
  // that a hostile MAC never points a deletion elsewhere.
  static std::string deviceImageFolder(std::string_view macText);

  // The video folder of one device, the same way: the video folder
  // followed by the MAC text, or empty when the text is not one plain
  // folder name. Recordings are made and deleted only below it.
  static std::string deviceVideoFolder(std::string_view macText);

  // True when `name` is usable as one path component of our own.
  static bool isPlainFolderName(std::string_view name);

  // Removes the path and everything below it. A missing path is no error, and
  // failures are ignored: every caller deletes only to tidy up.
  static void deleteTree(const std::string& path);
};

}  // namespace ksplugs
