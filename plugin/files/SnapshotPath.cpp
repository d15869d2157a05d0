#include "plugin/files/SnapshotPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

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

namespace {

bool endsWithNoCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  text.remove_prefix(text.size() - tail.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

bool SnapshotPath::acceptsPagePath(const std::string& path, int format) {
  if (path.size() < 2 || path.front() != '/' || path.find('\0') != std::string::npos) return false;
  // Every component is a real name: no ".", "..", and no empty one (which a
  // trailing '/' would leave as the file name).
  size_t begin = 1;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    const std::string_view component(path.data() + begin, end - begin);
    if (component.empty() || component == "." || component == "..") return false;
    begin = end + 1;
  }
  const bool extensionFits = format == 1 ? endsWithNoCase(path, ".bmp")
                             : format == 2 ? endsWithNoCase(path, ".jpg") || endsWithNoCase(path, ".jpeg")
                                           : false;
  if (!extensionFits) return false;
  const std::string folder = path.substr(0, path.rfind('/'));
  struct stat info {};
  if (::stat(folder.empty() ? "/" : folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

bool SnapshotPath::copyToNewFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in == -1) return false;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out == -1) {
    ::close(in);
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t wrote = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        ok = false;
        break;
      }
      done += wrote;
    }
    if (!ok) break;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  // The file is ours: we created it above.
  if (!ok) ::unlink(to.c_str());
  return ok;
}

}  // namespace ksplugs
