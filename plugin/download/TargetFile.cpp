#include "plugin/download/TargetFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "plugin/api/ksplugs.h"

namespace ksplugs {

namespace {

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// Every component between slashes is a real name: not empty, ".", or "..".
bool plainComponents(std::string_view path) {
  size_t start = 1;  // after the leading slash
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

int openOrRetry(const char* path, int flags) {
  int fd = -1;
  do {
    fd = ::open(path, flags, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

int TargetFile::checkPagePath(const std::string& path, bool mp4) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return KS_E_FILE;
  if (!plainComponents(path)) return KS_E_FILE;
  const std::string_view extension = mp4 ? ".mp4" : ".prv";
  const size_t slash = path.rfind('/');
  const std::string_view name = std::string_view(path).substr(slash + 1);
  // A bare ".mp4" is a hidden file without a name of its own.
  if (name.size() <= extension.size() || !endsWithNoCase(name, extension)) return KS_E_FILE;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return KS_E_FILE;
  // Anything under the name, a dangling link included, is not the page's to replace.
  if (::lstat(path.c_str(), &info) == 0 || errno != ENOENT) return KS_E_FILE;
  return KS_OK;
}

int TargetFile::createForPage(const std::string& path, bool mp4, int* fd) {
  *fd = -1;
  if (const int rc = checkPagePath(path, mp4); rc != KS_OK) return rc;
  // O_EXCL closes the gap between the check and the create: a file or link
  // that appeared meanwhile makes the create fail.
  *fd = openOrRetry(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
  return *fd >= 0 ? KS_OK : KS_E_FILE;
}

int TargetFile::openChosen(const std::string& path, int* fd, bool* created) {
  *fd = -1;
  *created = false;
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return KS_E_FILE;
  *fd = openOrRetry(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
  if (*fd >= 0) {
    *created = true;
    return KS_OK;
  }
  if (errno != EEXIST) return KS_E_FILE;
  // The dialog asked the user before replacing it. A link is refused
  // (ELOOP), and only a regular file is truncated.
  *fd = openOrRetry(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (*fd < 0) return KS_E_FILE;
  struct stat info {};
  if (::fstat(*fd, &info) != 0 || !S_ISREG(info.st_mode) || ::ftruncate(*fd, 0) != 0) {
    ::close(*fd);
    *fd = -1;
    return KS_E_FILE;
  }
  return KS_OK;
}

}  // namespace ksplugs
