#include "plugin/video/DownloadUrl.h"

#include <algorithm>
#include <mutex>

#include "plugin/device/DownloadServer.h"

namespace ksplugs {

namespace {

std::mutex portSourceLock_;
DownloadUrl::PortSource portSource_;  // guarded by portSourceLock_

}  // namespace

void DownloadUrl::setPortSource(PortSource source) {
  std::lock_guard lock(portSourceLock_);
  portSource_ = std::move(source);
}

uint16_t DownloadUrl::serverPort() {
  PortSource source;
  {
    std::lock_guard lock(portSourceLock_);
    source = portSource_;
  }
  // Without an installed source the library's own server answers; its port
  // is 0 until it runs.
  return source ? source() : DownloadServer::instance().port();
}

std::optional<std::string> DownloadUrl::forFile(const std::string& workFolder, const std::string& path) {
  if (workFolder.empty() || path.size() <= workFolder.size() || path.compare(0, workFolder.size(), workFolder) != 0)
    return std::nullopt;
  const uint16_t port = serverPort();
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
