#pragma once
// The folders the library keeps its own files in, below the user's temporary
// folder: pictures, recordings while they are converted, and debug event
// data. The whole tree is wiped at start-up, and a device's picture folder
// when the device is torn down.
//
// The temporary folder is usually shared by every user of the machine, so
// the tree has a root of its own per user, "<temp>/Kestrova-<uid>", made
// 0700. A root that someone else made first, a link in its place, or one that
// is not a private folder of ours is never used: then there are no work
// folders at all, and whatever needs one fails with its file error. Below the
// root every folder is made 0700 and every file 0600, and every creation and
// deletion walks down from the root's descriptor one name at a time without
// following a link, so nothing below the root can lead outside it.
//
// Threads: stateless; every function may be called from any thread.
#include <string>
#include <string_view>

namespace ksplugs {

enum class WorkFolderKind { kVideo = 1, kImage = 2, kDebugEvent = 3 };

class WorkFolders {
 public:
  // Kinds 1 to 3 answer "<root>/Video/", "<root>/Image/" and
  // "<root>/DebugEvent/" (with the trailing separator); any other kind
  // answers the temporary folder itself without its trailing separator.
  static std::string folder(int kind);
  static std::string folder(WorkFolderKind kind) { return folder(static_cast<int>(kind)); }

  // "<temp>/Kestrova-<uid>": the root of every work folder.
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

  // A descriptor of the root (O_DIRECTORY, close-on-exec), made 0700 first
  // when `create` and it is missing; -1 when it is missing or is not a
  // private folder of this user (a link, not a folder, another owner, open
  // to the group or others). The caller closes it.
  static int openRoot(bool create);

  // A descriptor of the folder `path` (O_DIRECTORY, close-on-exec), or -1.
  // A path below the root is walked down from the root's descriptor, each
  // missing folder made 0700 when `create`, no link followed. Other paths
  // (tests name folders of their own) are made and opened as given.
  static int openFolder(const std::string& path, bool create);
  // openFolder(path, true) without the descriptor.
  static bool makeFolder(const std::string& path);

  // Creates the new file `path` (its folders as openFolder makes them):
  // never over an existing name, never through a link, mode 0600. The
  // descriptor is opened for writing and close-on-exec; -1 on failure.
  static int createFile(const std::string& path);

  // Removes one file, or one empty folder when `folder`, from its folder's
  // descriptor. False when it could not be removed.
  static bool removeEntry(const std::string& path, bool folder);

  // Removes the path and everything below it, never descending through a
  // link (a link is removed, not what it names). Only the root and paths
  // below it are removed; a missing path is no error, and failures are
  // ignored: every caller deletes only to tidy up.
  static void deleteTree(const std::string& path);
};

}  // namespace ksplugs
