#include "shell/services/UpgradeWatcher.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>

#include "tests/support/TestHttpServer.h"

namespace kestrova {
namespace {

using kstest::TestHttpServer;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A private temporary folder for the duration of a test, made the process's
// temporary folder through TMPDIR.
class TempDirectory {
 public:
  TempDirectory() {
    char pattern[] = "/tmp/kestrova-upgrade-XXXXXX";
    path_ = ::mkdtemp(pattern);
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) saved_ = old;
    hadOld_ = old != nullptr;
    ::setenv("TMPDIR", path_.c_str(), 1);
  }
  ~TempDirectory() {
    if (hadOld_) {
      ::setenv("TMPDIR", saved_.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    fs::remove_all(path_);
  }
  const std::string& path() const { return path_; }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  std::string path_;
  std::string saved_;
  bool hadOld_ = false;
};

// The upgrade service and the package host in one loopback server. The
// replies can be changed while the watcher runs.
class UpgradeService {
 public:
  UpgradeService()
      : server_([this](const TestHttpServer::Request& r) {
          std::lock_guard<std::mutex> lock(mutex_);
          const std::string target(r.target());
          if (target.rfind("/UtilERP/device/CloudUpgradeFirmwareList?", 0) == 0) {
            ++queries_;
            if (failQueries_ > 0) {
              --failQueries_;
              return TestHttpServer::reply(500, "busy");
            }
            return TestHttpServer::reply(200, xml_, "application/xml");
          }
          return TestHttpServer::reply(packageStatus_, package_, "application/octet-stream");
        }) {
    xml_ = "<?xml version=\"1.0\"?><root><firmware><hostip>http://127.0.0.1</hostip><port>" +
           std::to_string(server_.port()) + "</port><file URI=\"pkg/shell.bin\" size=\"9\"/><file URI=\"other\"/>" +
           "</firmware></root>";
  }

  void set(std::string xml, unsigned packageStatus, int failQueries = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    xml_ = std::move(xml);
    packageStatus_ = packageStatus;
    failQueries_ = failQueries;
  }
  void failNextQueries(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    failQueries_ = count;
  }
  int queries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_;
  }
  const std::string& package() const { return package_; }
  std::string url() const { return server_.url(); }
  std::vector<TestHttpServer::Request> requests() const { return server_.requests(); }

 private:
  mutable std::mutex mutex_;
  std::string xml_;               // guarded by mutex_
  unsigned packageStatus_ = 200;  // guarded by mutex_
  int failQueries_ = 0;           // guarded by mutex_
  int queries_ = 0;               // guarded by mutex_
  const std::string package_ = "PACKAGE\x01\x02";
  TestHttpServer server_;  // last: its thread reads the fields above
};

ServiceConfig configFor(const std::string& url, int64_t intervalMs) {
  ServiceConfig config;
  config.upgradeServer = url;
  config.upgradeIntervalMs = intervalMs;
  return config;
}

// What the shell would record from the watcher's hooks.
struct ShellSide {
  std::mutex mutex;
  std::condition_variable changed;
  std::string pendingInstaller;  // guarded by mutex
  int closes = 0;                // guarded by mutex
  int aliveChecks = 0;           // guarded by mutex
  int aliveDevices = 0;          // guarded by mutex

  UpgradeWatcher::Hooks hooks() {
    return {[this] {
              std::lock_guard<std::mutex> lock(mutex);
              ++aliveChecks;
              changed.notify_all();
              return aliveDevices;
            },
            [this] {
              std::lock_guard<std::mutex> lock(mutex);
              ++closes;
              changed.notify_all();
            },
            [this](const std::string& path) {
              std::lock_guard<std::mutex> lock(mutex);
              pendingInstaller = path;
              changed.notify_all();
            }};
  }
  template <typename Predicate>
  bool waitFor(Predicate predicate) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 20s, predicate);
  }
};

TEST(UpgradeWatcher, VersionTextAndPackageUrl) {
  EXPECT_EQ("2.2.9-19700101", UpgradeWatcher::versionText("2.2.9.12423"));
  EXPECT_EQ("1.0.0-19700101", UpgradeWatcher::versionText("1.0.0.1"));
  EXPECT_EQ("http://h:81/a/b.exe",
            UpgradeWatcher::packageUrl("<root><firmware><hostip>http://h</hostip><port>81</port>"
                                       "<file URI=\"a/b.exe\"/></firmware><firmware><port>2</port></firmware></root>"));
  EXPECT_EQ(":/x", UpgradeWatcher::packageUrl("<root><firmware><file URI=\"x\"/></firmware></root>"));
  EXPECT_EQ(":/", UpgradeWatcher::packageUrl("<other/>"));
  EXPECT_EQ("", UpgradeWatcher::packageUrl("not xml at all"));
  EXPECT_EQ("", UpgradeWatcher::packageUrl(""));
}

TEST(UpgradeWatcher, DownloadsTheCompletePackageIntoTheTemporaryFolder) {
  TempDirectory temp;
  UpgradeService service;
  ShellSide shell;
  std::atomic<bool> pending{false};
  UpgradeWatcher watcher(shell.hooks(), pending, configFor(service.url(), 600000));
  ASSERT_TRUE(watcher.fetchUpgrade());

  const auto requests = service.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(
      "/UtilERP/device/CloudUpgradeFirmwareList?lang=all&boardID=FFFF&customer=C009&versionID=V001&"
      "deviceType=FFF7&callbackName=Kestrova&curVersion=" +
          UpgradeWatcher::versionText(KESTROVA_VERSION_TEXT),
      std::string(requests[0].target()));
  EXPECT_EQ("/pkg/shell.bin", std::string(requests[1].target()));

  ASSERT_FALSE(shell.pendingInstaller.empty());
  EXPECT_EQ(temp.path() + "/", shell.pendingInstaller.substr(0, temp.path().size() + 1));
  EXPECT_EQ(service.package(), readFile(shell.pendingInstaller));
  EXPECT_FALSE(pending.load()) << "a download alone does not close the shell";
  // A folder of its own that nobody else may enter, and a file only we read.
  const fs::path folder = fs::path(shell.pendingInstaller).parent_path();
  EXPECT_EQ(folder.parent_path().string(), temp.path());
  struct stat info {};
  ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  ASSERT_EQ(::lstat(shell.pendingInstaller.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(UpgradeWatcher, SchemeAndHostMustBeTheUpgradeServers) {
  const struct {
    const char* server;
    const char* url;
    bool same;
  } cases[] = {
      {"http://127.0.0.1:8090", "http://127.0.0.1:9000/pkg", true},
      {"HTTPS://Upgrade.Example", "https://upgrade.example/a/b.exe", true},
      {"http://127.0.0.1:8090", "http://localhost:8090/pkg", false},
      {"https://upgrade.example", "http://upgrade.example/pkg", false},
      {"http://upgrade.example", "http://upgrade.example.evil.test/pkg", false},
      {"http://upgrade.example", "http://upgrade.example@evil.test/pkg", false},
      {"http://upgrade.example", ":/pkg", false},
      {"http://upgrade.example", "file:///etc/passwd", false},
      {"not a url", "http://upgrade.example/pkg", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpgradeWatcher::sameSchemeAndHost(c.server, c.url), c.same) << c.server << " " << c.url;
  }
}

// A reply that names another host or scheme for the package is refused
// before anything is fetched or written.
TEST(UpgradeWatcher, APackageElsewhereIsNeverFetched) {
  TempDirectory temp;
  UpgradeService service;
  const std::string port = service.url().substr(service.url().rfind(':') + 1);
  ShellSide shell;
  std::atomic<bool> pending{false};
  UpgradeWatcher watcher(shell.hooks(), pending, configFor(service.url(), 600000));
  for (const std::string host : {"http://localhost", "https://127.0.0.1", "ftp://127.0.0.1"}) {
    service.set(
        "<root><firmware><hostip>" + host + "</hostip><port>" + port + "</port><file URI=\"pkg\"/></firmware></root>",
        200);
    EXPECT_FALSE(watcher.fetchUpgrade()) << host;
  }
  for (const auto& request : service.requests()) {
    EXPECT_EQ(std::string(request.target()).rfind("/UtilERP/", 0), 0u) << "fetched " << request.target();
  }
  EXPECT_TRUE(shell.pendingInstaller.empty());
  EXPECT_TRUE(temp.files().empty());
}

TEST(UpgradeWatcher, FailedAttemptsLeaveNoPackageBehind) {
  TempDirectory temp;
  UpgradeService service;
  ShellSide shell;
  std::atomic<bool> pending{false};
  UpgradeWatcher watcher(shell.hooks(), pending, configFor(service.url(), 600000));

  service.set("this is not xml <", 200);
  EXPECT_FALSE(watcher.fetchUpgrade());
  service.set("<root><firmware><file URI=\"pkg\"/></firmware></root>", 200);
  EXPECT_FALSE(watcher.fetchUpgrade()) << "a URL without host cannot be downloaded";
  const std::string good = "<root><firmware><hostip>http://127.0.0.1</hostip><port>" +
                           service.url().substr(service.url().rfind(':') + 1) +
                           "</port><file URI=\"pkg\"/></firmware></root>";
  for (const unsigned status : {404u, 500u, 403u}) {
    service.set(good, status);
    EXPECT_FALSE(watcher.fetchUpgrade()) << status;
  }
  service.failNextQueries(1);
  EXPECT_FALSE(watcher.fetchUpgrade());

  EXPECT_TRUE(shell.pendingInstaller.empty());
  EXPECT_TRUE(temp.files().empty()) << "partial packages are deleted";
}

TEST(UpgradeWatcher, RetriesThenWaitsForNoDeviceThenCloses) {
  TempDirectory temp;
  UpgradeService service;
  service.failNextQueries(2);
  ShellSide shell;
  shell.aliveDevices = 2;
  std::atomic<bool> pending{false};
  UpgradeWatcher watcher(shell.hooks(), pending, configFor(service.url(), 20));
  watcher.start();

  ASSERT_TRUE(shell.waitFor([&] { return shell.aliveChecks >= 3; }));
  EXPECT_EQ(3, service.queries()) << "two failed attempts, then one download";
  EXPECT_FALSE(shell.pendingInstaller.empty());
  EXPECT_FALSE(pending.load()) << "devices are still open";
  {
    std::lock_guard<std::mutex> lock(shell.mutex);
    EXPECT_EQ(0, shell.closes);
    shell.aliveDevices = 0;
  }
  ASSERT_TRUE(shell.waitFor([&] { return shell.closes == 1; }));
  EXPECT_TRUE(pending.load());
  watcher.stop();
  EXPECT_EQ(1, shell.closes);
}

TEST(UpgradeWatcher, StopsPromptlyWhileWaitingOrTransferring) {
  TempDirectory temp;
  // Waiting out a ten-minute pause after a failed attempt.
  {
    UpgradeService service;
    service.set("not xml", 200);
    ShellSide shell;
    std::atomic<bool> pending{false};
    UpgradeWatcher watcher(shell.hooks(), pending, configFor(service.url(), 600000));
    watcher.start();
    for (int i = 0; i < 200 && service.queries() == 0; ++i) std::this_thread::sleep_for(10ms);
    auto stopped = std::async(std::launch::async, [&] { watcher.stop(); });
    ASSERT_EQ(std::future_status::ready, stopped.wait_for(10s));
    EXPECT_FALSE(pending.load());
  }
  // Inside a query to a server that never answers (the query has no time-out).
  {
    TestHttpServer silent({});
    ShellSide shell;
    std::atomic<bool> pending{false};
    UpgradeWatcher watcher(shell.hooks(), pending, configFor(silent.url(), 600000));
    watcher.start();
    for (int i = 0; i < 200 && silent.connections() == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(1u, silent.connections());
    auto stopped = std::async(std::launch::async, [&] { watcher.stop(); });
    ASSERT_EQ(std::future_status::ready, stopped.wait_for(10s));
    EXPECT_FALSE(pending.load());
    EXPECT_EQ(0, shell.closes);
  }
}

TEST(UpgradeWatcher, InstallerStartsWithThePackageShellNameAndPid) {
  TempDirectory temp;
  const std::string folder = temp.path() + "/install dir";
  fs::create_directory(folder);
  const std::string script = folder + "/kesmend";
  const std::string record = temp.path() + "/record.txt";
  std::ofstream(script) << "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > '" << record << ".tmp'\n"
                        << "ls -l /proc/$$/fd | grep -c socket: > '" << record << ".sockets'\n"
                        << "mv '" << record << ".tmp' '" << record << "'\n";
  ::chmod(script.c_str(), 0700);

  const std::string package = temp.path() + "/Kestrova-1 2.exe";
  // A socket a library might have left without close-on-exec.
  const int inheritable = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(inheritable, 0);
  ASSERT_TRUE(launchInstallerFrom(folder, package));
  ::close(inheritable);
  for (int i = 0; i < 1000 && !fs::exists(record); ++i) std::this_thread::sleep_for(10ms);
  const std::string shellName = fs::read_symlink("/proc/self/exe").filename().string();
  EXPECT_EQ(fs::canonical(folder).string() + "\n[" + package + "]\n[" + shellName + "]\n[" +
                std::to_string(::getpid()) + "]\n",
            readFile(record));
  EXPECT_EQ(readFile(record + ".sockets"), "0\n") << "the installer holds none of our sockets";
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }

  EXPECT_FALSE(launchInstallerFrom(temp.path() + "/nowhere", package));
}

}  // namespace
}  // namespace kestrova
