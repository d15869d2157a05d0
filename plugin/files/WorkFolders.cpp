#include "plugin/files/WorkFolders.h"

#include <filesystem>
#include <system_error>

#include "platform/sys/TempPath.h"

namespace ksplugs {

std::string WorkFolders::folder(int kind) {
  // sys::tempFolder() always ends with '/', so the names are appended
  // directly and no separator is doubled.
  std::string temp = sys::tempFolder();
  switch (kind) {
    case 1:
      return temp + "Kestrova/Video/";
    case 2:
      return temp + "Kestrova/Image/";
    case 3:
      return temp + "Kestrova/DebugEvent/";
    default:
      // The root folder keeps its only separator.
      if (temp.size() > 1 && temp.back() == '/') temp.pop_back();
      return temp;
  }
}

std::string WorkFolders::root() { return sys::tempFolder() + "Kestrova"; }

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

void WorkFolders::deleteTree(const std::string& path) {
  if (path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace ksplugs
