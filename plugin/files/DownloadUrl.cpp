#include "plugin/files/DownloadUrl.h"

#include <algorithm>

#include "plugin/files/DownloadServer.h"

namespace ksplugs {

std::optional<std::string> DownloadUrl::forFile(uint16_t port, const std::string& workFolder, const std::string& path) {
  if (workFolder.empty() || path.size() <= workFolder.size() || path.compare(0, workFolder.size(), workFolder) != 0)
    return std::nullopt;
  if (port == 0) return std::nullopt;
  std::string relative = path.substr(workFolder.size());
  std::replace(relative.begin(), relative.end(), '\\', '/');
  // The server builds the address, escaping what its router would read as
  // something else ('%', '?', '#', blanks), so the name finds the file again.
  std::string url = DownloadServer::addressFor(port, relative);
  if (url.empty() || url.size() + 1 > kBlockSize) return std::nullopt;
  return url;
}

}  // namespace ksplugs
