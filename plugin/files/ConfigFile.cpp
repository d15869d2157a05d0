#include "plugin/files/ConfigFile.h"

#include <ini.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <strings.h>
#include <system_error>

namespace ksplugs {

namespace {

struct Lookup {
  std::string_view section;
  std::string_view key;
  bool found = false;
  int value = 0;
};

bool sameName(const char* a, std::string_view b) {
  return std::string_view(a).size() == b.size() && strncasecmp(a, b.data(), b.size()) == 0;
}

// A whole decimal number with an optional sign; anything else counts as no
// number at all (0), as does a value outside the range of int.
int parseWholeNumber(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) return 0;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return 0;
  return static_cast<int>(value);
}

int onEntry(void* user, const char* section, const char* name, const char* value) {
  auto* lookup = static_cast<Lookup*>(user);
  if (!lookup->found && sameName(section, lookup->section) && sameName(name, lookup->key)) {
    lookup->found = true;
    lookup->value = parseWholeNumber(value);
  }
  return 1;  // keep reading: a malformed line elsewhere must not hide the key
}

}  // namespace

std::string ConfigFile::defaultPath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return {};
  return (exe.parent_path() / "config.ini").string();
}

int ConfigFile::readInt(std::string_view section, std::string_view key) {
  const std::string path = defaultPath();
  if (path.empty()) return 0;
  return readInt(path, section, key);
}

int ConfigFile::readInt(const std::string& path, std::string_view section, std::string_view key) {
  Lookup lookup{section, key};
  // ini_parse answers -1 when the file cannot be opened; the lookup then
  // stays at its default.
  ini_parse(path.c_str(), onEntry, &lookup);
  return lookup.found ? lookup.value : 0;
}

}  // namespace ksplugs
