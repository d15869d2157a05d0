#include "bench/support/ProcessSample.h"

#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace benchsupport {

std::optional<long> statusField(std::string_view status, std::string_view name) {
  size_t at = 0;
  while (at < status.size()) {
    size_t end = status.find('\n', at);
    if (end == std::string_view::npos) end = status.size();
    const std::string_view line = status.substr(at, end - at);
    at = end + 1;
    if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != ':') continue;
    const std::string value(line.substr(name.size() + 1));
    const char* begin = value.c_str();
    while (*begin == ' ' || *begin == '\t') ++begin;
    char* stop = nullptr;
    errno = 0;
    const long number = std::strtol(begin, &stop, 10);
    if (stop == begin || errno != 0 || number < 0) return std::nullopt;
    // Only a unit may follow the number.
    while (*stop == ' ' || *stop == '\t') ++stop;
    if (*stop != '\0' && std::string_view(stop) != "kB") return std::nullopt;
    return number;
  }
  return std::nullopt;
}

namespace {

int countDescriptors() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return 0;
  int count = 0;
  while (const dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count - 1;  // the directory stream's own descriptor
}

}  // namespace

ProcessSample sampleThisProcess(double seconds) {
  ProcessSample sample;
  sample.seconds = seconds;
  std::ifstream file("/proc/self/status");
  const std::string status((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  sample.rssKb = statusField(status, "VmRSS").value_or(0);
  sample.threads = static_cast<int>(statusField(status, "Threads").value_or(0));
  sample.descriptors = countDescriptors();
  return sample;
}

}  // namespace benchsupport
