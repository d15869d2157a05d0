#include "platform/sys/TempPath.h"

#include <cstdlib>
#include <filesystem>

namespace sys {

std::string tempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string base = (env != nullptr && *env != '\0') ? env : "/tmp";
  std::error_code ec;
  const auto canonical = std::filesystem::canonical(base, ec);
  std::string path = ec ? base : canonical.string();
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

}  // namespace sys
