#include "plugin/files/WorkFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/sys/TempPath.h"

namespace ksplugs {
namespace {

// Our own tree is a few folders deep; anything deeper was not made by us
// and is removed only this far.
constexpr int kMaxDepth = 16;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string rootName() { return "Kestrova-" + std::to_string(static_cast<unsigned long>(::geteuid())); }

// The temporary folder without its trailing separator ("/" stays "/").
std::string tempBase() {
  std::string temp = sys::tempFolder();
  if (temp.size() > 1 && temp.back() == '/') temp.pop_back();
  return temp;
}

int openTempFolder() { return ::open(tempBase().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

// The names of `relative` between separators; false when one of them is
// not a plain name (".", "..", empty inside the path).
bool splitNames(std::string_view relative, std::vector<std::string>& names) {
  while (!relative.empty() && relative.back() == '/') relative.remove_suffix(1);
  size_t begin = 0;
  while (begin < relative.size()) {
    size_t end = relative.find('/', begin);
    if (end == std::string_view::npos) end = relative.size();
    const std::string_view name = relative.substr(begin, end - begin);
    if (!WorkFolders::isPlainFolderName(name)) return false;
    names.emplace_back(name);
    begin = end + 1;
  }
  return true;
}

// The part of `path` below the root: true with `relative` set (empty for the
// root itself) when the path is the root or lies below it.
bool belowRoot(const std::string& path, std::string& relative) {
  const std::string top = WorkFolders::root();
  if (path.compare(0, top.size(), top) != 0) return false;
  if (path.size() == top.size()) {
    relative.clear();
    return true;
  }
  if (path[top.size()] != '/') return false;
  relative = path.substr(top.size() + 1);
  return true;
}

// One step down from `parent` (which it closes): the folder `name`, made
// 0700 first when `create`. -1 when it is missing or is not a folder.
int stepDown(int parent, const std::string& name, bool create) {
  if (create && ::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
    ::close(parent);
    return -1;
  }
  const int next = ::openat(parent, name.c_str(), kFolderFlags);
  ::close(parent);
  return next;
}

// The descriptor of the folder holding `path`'s last name, and that name.
int openParent(const std::string& path, bool create, std::string& name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 >= path.size()) return -1;
  name = path.substr(slash + 1);
  if (!WorkFolders::isPlainFolderName(name)) return -1;
  return WorkFolders::openFolder(slash == 0 ? std::string("/") : path.substr(0, slash), create);
}

void removeAt(int parent, const char* name, int depth);

// Removes everything inside the open folder `folder` (which it closes).
void removeContents(int folder, int depth) {
  DIR* listing = ::fdopendir(folder);
  if (listing == nullptr) {
    ::close(folder);
    return;
  }
  // The names are read first: removing while reading may skip entries.
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  for (const std::string& name : names) removeAt(::dirfd(listing), name.c_str(), depth + 1);
  ::closedir(listing);
}

// Removes the entry `name` of `parent`. A folder is opened without following
// a link before it is emptied, so a link (or anything else that is not a
// folder) is only unlinked, never entered.
void removeAt(int parent, const char* name, int depth) {
  if (depth > kMaxDepth) return;
  const int folder = ::openat(parent, name, kFolderFlags | O_NONBLOCK);
  if (folder < 0) {
    if (errno == ENOTDIR || errno == ELOOP) ::unlinkat(parent, name, 0);
    return;
  }
  removeContents(folder, depth);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

}  // namespace

std::string WorkFolders::folder(int kind) {
  switch (kind) {
    case 1:
      return root() + "/Video/";
    case 2:
      return root() + "/Image/";
    case 3:
      return root() + "/DebugEvent/";
    default:
      return tempBase();
  }
}

std::string WorkFolders::root() {
  // sys::tempFolder() always ends with '/', so the name is appended directly
  // and no separator is doubled.
  return sys::tempFolder() + rootName();
}

bool WorkFolders::isPlainFolderName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string WorkFolders::deviceImageFolder(std::string_view macText) {
  if (!isPlainFolderName(macText)) return {};
  return folder(WorkFolderKind::kImage) + std::string(macText);
}

std::string WorkFolders::deviceVideoFolder(std::string_view macText) {
  if (!isPlainFolderName(macText)) return {};
  return folder(WorkFolderKind::kVideo) + std::string(macText);
}

int WorkFolders::openRoot(bool create) {
  const int temp = openTempFolder();
  if (temp < 0) return -1;
  const std::string name = rootName();
  bool made = false;
  if (create) {
    if (::mkdirat(temp, name.c_str(), 0700) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      ::close(temp);
      return -1;
    }
  }
  // The name itself first (lstat): a link is refused before anything
  // follows it. Then the folder opened without following a link must be
  // the very one that was checked.
  struct stat named {};
  const bool checked = ::fstatat(temp, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(named.st_mode) &&
                       named.st_uid == ::geteuid();
  const int fd = checked ? ::openat(temp, name.c_str(), kFolderFlags) : -1;
  ::close(temp);
  if (fd < 0) return -1;
  struct stat opened {};
  // A folder we just made may carry less than 0700 from the umask; it is
  // made exactly 0700. An existing one open to others is not ours to use.
  if (made) ::fchmod(fd, 0700);
  if (::fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino ||
      opened.st_uid != ::geteuid() || (opened.st_mode & 0077) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int WorkFolders::openFolder(const std::string& path, bool create) {
  std::string relative;
  if (!belowRoot(path, relative)) {
    if (path.empty()) return -1;
    // Each missing folder is made 0700, as below the root.
    for (size_t slash = path.find('/', 1); create; slash = path.find('/', slash + 1)) {
      ::mkdir(path.substr(0, slash).c_str(), 0700);
      if (slash == std::string::npos) break;
    }
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  std::vector<std::string> names;
  if (!splitNames(relative, names)) return -1;
  int fd = openRoot(create);
  for (const std::string& name : names) {
    if (fd < 0) break;
    fd = stepDown(fd, name, create);
  }
  return fd;
}

bool WorkFolders::makeFolder(const std::string& path) {
  const int fd = openFolder(path, true);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int WorkFolders::createFile(const std::string& path) {
  std::string name;
  const int folder = openParent(path, true, name);
  if (folder < 0) return -1;
  const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  ::close(folder);
  return fd;
}

bool WorkFolders::removeEntry(const std::string& path, bool folder) {
  std::string name;
  const int parent = openParent(path, false, name);
  if (parent < 0) return false;
  const bool removed = ::unlinkat(parent, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0;
  ::close(parent);
  return removed;
}

void WorkFolders::deleteTree(const std::string& path) {
  std::string relative;
  if (path.empty() || !belowRoot(path, relative)) return;
  std::vector<std::string> names;
  if (!splitNames(relative, names)) return;
  if (names.empty()) {
    // The root itself: emptied only when it is ours, then removed from the
    // temporary folder by name.
    const int root = openRoot(false);
    if (root < 0) return;
    removeContents(root, 0);
    const int temp = openTempFolder();
    if (temp < 0) return;
    ::unlinkat(temp, rootName().c_str(), AT_REMOVEDIR);
    ::close(temp);
    return;
  }
  int parent = openRoot(false);
  for (size_t i = 0; i + 1 < names.size() && parent >= 0; ++i) parent = stepDown(parent, names[i], false);
  if (parent < 0) return;
  removeAt(parent, names.back().c_str(), 0);
  ::close(parent);
}

}  // namespace ksplugs
