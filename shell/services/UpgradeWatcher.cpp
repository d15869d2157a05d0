#include "shell/services/UpgradeWatcher.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/sys/TempPath.h"

extern char** environ;

namespace kestrova {
namespace {

// An upgrade reply is a short XML text.
constexpr uint64_t kMaxReplyBytes = 1u << 20;
// A package larger than this is not an installer of ours.
constexpr uint64_t kMaxPackageBytes = 1ull << 30;
// Transfers of the watcher have no time-outs (a package may take long), but a
// connection that moves nothing for this long is given up and retried later.
constexpr int kStallSeconds = 120;

std::string elementText(const tinyxml2::XMLElement* parent, const char* name) {
  const tinyxml2::XMLElement* element = parent != nullptr ? parent->FirstChildElement(name) : nullptr;
  const char* text = element != nullptr ? element->GetText() : nullptr;
  return text != nullptr ? text : "";
}

// The scheme and host of an absolute URL, as libcurl reads them (lower
// case, user names and ports apart); false when it has no scheme or host.
bool schemeAndHost(const std::string& url, std::string& scheme, std::string& host) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
  for (auto [part, out] : {std::pair{CURLUPART_SCHEME, &scheme}, std::pair{CURLUPART_HOST, &host}}) {
    char* text = nullptr;
    if (curl_url_get(parsed.get(), part, &text, 0) != CURLUE_OK || text == nullptr) return false;
    *out = text;
    curl_free(text);
    for (char& c : *out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return !scheme.empty() && !host.empty();
}

std::string ownExecutable() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

}  // namespace

UpgradeWatcher::UpgradeWatcher(Hooks hooks, std::atomic<bool>& upgradePending, ServiceConfig config)
    : hooks_(std::move(hooks)), upgradePending_(upgradePending), config_(std::move(config)) {}

UpgradeWatcher::~UpgradeWatcher() { stop(); }

void UpgradeWatcher::start() {
  if (thread_.joinable() || stopping_.load()) return;
  thread_ = std::thread([this] { run(); });
}

void UpgradeWatcher::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool UpgradeWatcher::pause() {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(config_.upgradeIntervalMs),
                         [this] { return stopping_.load(); });
}

void UpgradeWatcher::run() {
  try {
    while (!fetchUpgrade()) {
      if (!pause()) return;
    }
    while (hooks_.aliveDeviceCount && hooks_.aliveDeviceCount() != 0) {
      if (!pause()) return;
    }
    if (stopping_.load()) return;
    upgradePending_.store(true);
    if (hooks_.requestClose) hooks_.requestClose();
  } catch (...) {
    // Nothing may leave the thread; the shell simply keeps running without
    // an upgrade.
  }
}

std::string UpgradeWatcher::versionText(const std::string& fourPartVersion) {
  std::string text;
  int dots = 0;
  for (const char c : fourPartVersion) {
    if (c == '.' && ++dots == 3) break;
    text.push_back(c);
  }
  return text + "-19700101";
}

std::string UpgradeWatcher::packageUrl(const std::string& xml) {
  tinyxml2::XMLDocument document;
  if (document.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return {};
  const tinyxml2::XMLElement* root = document.FirstChildElement("root");
  const tinyxml2::XMLElement* firmware = root != nullptr ? root->FirstChildElement("firmware") : nullptr;
  const tinyxml2::XMLElement* file = firmware != nullptr ? firmware->FirstChildElement("file") : nullptr;
  const char* uri = file != nullptr ? file->Attribute("URI") : nullptr;
  return elementText(firmware, "hostip") + ":" + elementText(firmware, "port") + "/" + (uri != nullptr ? uri : "");
}

bool UpgradeWatcher::fetchUpgrade() {
  HttpRequest query;
  query.url = config_.upgradeServer +
              "/UtilERP/device/CloudUpgradeFirmwareList?lang=all&boardID=FFFF&customer=C009&versionID=V001&"
              "deviceType=FFF7&callbackName=Kestrova&curVersion=" +
              versionText(KESTROVA_VERSION_TEXT);
  query.extraTimeoutMs = -1;
  query.stallTimeoutSeconds = kStallSeconds;
  query.maxResponseBytes = kMaxReplyBytes;
  std::string reply;
  if (http_.perform(query, &reply) != 0) return false;

  const std::string url = packageUrl(reply);
  if (url.empty()) return false;

  // The reply names where the package lies. Only the upgrade service's own
  // scheme and host may serve it: a reply that points anywhere else (another
  // host, plain HTTP instead of HTTPS) is refused.
  if (!sameSchemeAndHost(config_.upgradeServer, url)) {
    std::fprintf(stderr, "kestrova: upgrade package refused: \"%s\" is not on the upgrade server %s\n", url.c_str(),
                 config_.upgradeServer.c_str());
    return false;
  }

  // A folder of our own (0700, a fresh name) holds the package, so that
  // nobody else can plant, swap or read it before the installer runs.
  std::string folder = sys::tempFolder() + "Kestrova-upgrade-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) return false;
  const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const std::string name = "Kestrova-" + std::to_string(static_cast<long long>(std::time(nullptr))) + ".exe";
  const int fd = directory < 0
                     ? -1
                     : ::openat(directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (directory >= 0) ::close(directory);
    ::rmdir(folder.c_str());
    return false;
  }

  HttpRequest download;
  download.url = url;
  download.extraTimeoutMs = -1;
  download.stallTimeoutSeconds = kStallSeconds;
  download.maxResponseBytes = kMaxPackageBytes;
  download.outputFd = fd;
  const int result = http_.perform(download);
  const bool written = ::fsync(fd) == 0;
  const off_t size = ::lseek(fd, 0, SEEK_END);
  const bool closed = ::close(fd) == 0;
  // Only a complete, non-empty package may ever reach the installer.
  if (result != 0 || !written || !closed || size <= 0) {
    ::unlinkat(directory, name.c_str(), 0);
    ::close(directory);
    ::rmdir(folder.c_str());
    return false;
  }
  ::close(directory);
  if (hooks_.setPendingInstaller) hooks_.setPendingInstaller(folder + "/" + name);
  return true;
}

bool UpgradeWatcher::sameSchemeAndHost(const std::string& server, const std::string& url) {
  std::string serverScheme, serverHost, urlScheme, urlHost;
  if (!schemeAndHost(server, serverScheme, serverHost) || !schemeAndHost(url, urlScheme, urlHost)) return false;
  return serverScheme == urlScheme && serverHost == urlHost;
}

bool launchInstaller(const std::string& packagePath) {
  const std::string exe = ownExecutable();
  if (exe.empty()) return false;
  return launchInstallerFrom(std::filesystem::path(exe).parent_path().string(), packagePath);
}

bool launchInstallerFrom(const std::string& folder, const std::string& packagePath) {
  const std::string exe = ownExecutable();
  const std::string program = folder + "/kesmend";
  const std::string shellName = std::filesystem::path(exe).filename().string();
  const std::string pid = std::to_string(static_cast<long long>(::getpid()));
  // Each value is one argument of its own, so spaces in the path need no quoting.
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(packagePath.c_str()),
                             const_cast<char*>(shellName.c_str()), const_cast<char*>(pid.c_str()), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // Our descriptors are close-on-exec already; this also closes any that a
  // library opened without it, so the installer holds nothing of ours but
  // the standard streams.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // Its own session: the terminal's hang-up or Ctrl-C that ends the shell
  // must not end the installer that is about to replace it.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int result = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return result == 0;
}

}  // namespace kestrova
