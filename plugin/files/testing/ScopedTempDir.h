#pragma once
// Tests only: a private temporary folder, so that tests never wipe each
// other's work folders.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace ksplugs::testing {

// Points TMPDIR at a fresh folder for the object's life and removes it after.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    if (const char* old = std::getenv("TMPDIR")) previous_ = old;
    std::string pattern = std::filesystem::temp_directory_path().string() + "/kestrova-devices-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~ScopedTempDir() {
    if (previous_) {
      setenv("TMPDIR", previous_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }

  // The library's work root in this folder, made 0700 (as the library makes
  // it) when missing, so that files a test puts there are found.
  std::string workRoot() const {
    const std::string root = path_ + "/Kestrova-" + std::to_string(::geteuid());
    ::mkdir(root.c_str(), 0700);
    return root;
  }

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

}  // namespace ksplugs::testing
