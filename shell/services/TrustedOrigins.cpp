#include "shell/services/TrustedOrigins.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/sys/HostHeader.h"

namespace kestrova {
namespace {

std::string_view normalised(std::string_view entry) {
  entry = sys::trimBlanks(entry);
  if (!entry.empty() && entry.back() == '/') entry.remove_suffix(1);
  return entry;
}

// Creates every missing folder of `path`'s parent, private to the user.
bool makeParentFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

std::string TrustedOrigins::defaultPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/kestrova/trusted-origins";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/kestrova/trusted-origins";
  return {};
}

std::vector<std::string> TrustedOrigins::read() const {
  std::vector<std::string> origins;
  if (path_.empty()) return origins;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return origins;
  std::string text;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    text.resize(kMaxFileBytes);
    size_t used = 0;
    while (used < text.size()) {
      const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
      if (n <= 0) break;
      used += static_cast<size_t>(n);
    }
    text.resize(used);
  }
  ::close(fd);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = normalised(std::string_view(text).substr(at, end - at));
    if (!line.empty() && line.front() != '#') origins.emplace_back(line);
    at = end + 1;
  }
  return origins;
}

bool TrustedOrigins::contains(std::string_view origin) const {
  origin = normalised(origin);
  if (origin.empty()) return false;
  for (const std::string& trusted : read()) {
    if (sys::equalsIgnoreCase(trusted, origin)) return true;
  }
  return false;
}

bool TrustedOrigins::looksLikeOrigin(std::string_view origin) {
  if (origin.empty() || origin.size() > 255) return false;
  const size_t separator = origin.find("://");
  if (separator == std::string_view::npos || separator == 0 || separator + 3 == origin.size()) return false;
  for (size_t i = 0; i < separator; ++i) {
    const char c = origin[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) return false;
  }
  for (size_t i = separator + 3; i < origin.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(origin[i]);
    if (c <= 0x20 || c >= 0x7F || c == '/' || c == '#' || c == '?' || c == '@' || c == '\\') return false;
  }
  return true;
}

bool TrustedOrigins::append(std::string_view origin) const {
  origin = normalised(origin);
  if (path_.empty() || !looksLikeOrigin(origin)) return false;
  if (!makeParentFolders(path_)) return false;
  const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const std::string line = std::string(origin) + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  return ::close(fd) == 0 && written;
}

}  // namespace kestrova
