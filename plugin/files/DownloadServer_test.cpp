#include "plugin/files/DownloadServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/ui/testing/UiTestSupport.h"
#include "platform/webframework/WebServer.h"
#include "platform/webframework/testing/HttpTestClient.h"
#include "plugin/files/WorkFolders.h"
#include "plugin/files/testing/ScopedTempDir.h"

namespace ksplugs {
namespace {
namespace fs = std::filesystem;
using webframework::Request;
using webframework::testing::httpRequest;
using namespace std::chrono_literals;

void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readAll(int fd) {
  std::string bytes;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
  return bytes;
}

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

Request get(const std::string& file, const std::string& method = "GET") {
  Request request(method, "/download/" + file);
  request.addParam("file", file);
  return request;
}

// Work folders below a private temporary folder, with a secret beside them
// that no request may reach.
class DownloadHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders_ = DownloadServer::currentFolders();
    fs::create_directories(folders_.video);
    fs::create_directories(folders_.image);
    secret_ = fs::path(temp_.path()) / "secret.jpg";
    writeFile(secret_, "secret");
  }

  unsigned status(const std::string& file, const std::string& method = "GET") {
    return DownloadServer::handle(get(file, method), folders_).status;
  }

  testing::ScopedTempDir temp_;
  DownloadServer::Folders folders_;
  fs::path secret_;
};

TEST_F(DownloadHandlerTest, MethodKindAndStatusRules) {
  writeFile(fs::path(folders_.image) / "AA-BB" / "picture.jpg", "jpeg bytes");
  writeFile(fs::path(folders_.video) / "AA-BB" / "clip.MP4", "mp4 bytes");
  writeFile(fs::path(folders_.image) / "noextension", "image kind");
  writeFile(fs::path(folders_.image) / "empty.jpg", "");

  EXPECT_EQ(status("AA-BB/picture.jpg", "POST"), 501u);
  EXPECT_EQ(status("AA-BB/picture.jpg", "HEAD"), 501u);
  for (const char* method : {"GET", "get", "gEt"}) {
    webframework::Response response = DownloadServer::handle(get("AA-BB/picture.jpg", method), folders_);
    ASSERT_EQ(response.status, 200u) << method;
    EXPECT_EQ(response.contentType, "image/jpeg");
    ASSERT_TRUE(response.file.isOpen());
    EXPECT_EQ(readAll(response.file.fd()), "jpeg bytes");
  }
  // ".MP4" is looked up among the videos, a name without extension among the
  // pictures, and '\\' separates folders like '/'.
  EXPECT_EQ(status("AA-BB\\clip.MP4"), 200u);
  EXPECT_EQ(status("noextension"), 200u);
  EXPECT_EQ(status("AA-BB/clip.jpg"), 404u);
  EXPECT_EQ(status("AA-BB/picture.mp4"), 404u);
  EXPECT_EQ(status("empty.jpg"), 406u);
  EXPECT_EQ(status("missing.jpg"), 404u);
  EXPECT_EQ(status(""), 404u);
  EXPECT_EQ(status("AA-BB"), 404u);  // a folder is not a file
  EXPECT_EQ(DownloadServer::handle(Request("GET", "/download"), folders_).status, 404u);
}

TEST_F(DownloadHandlerTest, FilesOfFourGigabytesOrMoreAreRefusedWithoutReading) {
  // Sparse files: no disk space is used and nothing is read.
  const fs::path limit = fs::path(folders_.video) / "limit.mp4";
  const fs::path below = fs::path(folders_.video) / "below.mp4";
  writeFile(limit, "");
  writeFile(below, "");
  fs::resize_file(limit, DownloadServer::kFileSizeLimit);
  fs::resize_file(below, DownloadServer::kFileSizeLimit - 1);
  EXPECT_EQ(status("limit.mp4"), 500u);
  EXPECT_EQ(status("below.mp4"), 200u);
}

TEST_F(DownloadHandlerTest, NothingOutsideTheWorkFolderIsReachable) {
  writeFile(fs::path(folders_.image) / "sub" / "inside.jpg", "inside");
  // Links planted in the folder: to a file outside, to a folder outside, and
  // even to a file inside (links are never followed).
  fs::create_symlink(secret_, fs::path(folders_.image) / "out.jpg");
  fs::create_symlink(fs::path(temp_.path()), fs::path(folders_.image) / "outdir");
  fs::create_symlink(fs::path(folders_.image) / "sub" / "inside.jpg", fs::path(folders_.image) / "alias.jpg");
  ASSERT_EQ(::mkfifo((fs::path(folders_.image) / "pipe.jpg").c_str(), 0600), 0);

  for (const std::string& file :
       {std::string("../secret.jpg"), std::string("../../Kestrova/../secret.jpg"), std::string("sub/../../secret.jpg"),
        std::string("sub/../inside.jpg"), std::string("..\\secret.jpg"), std::string("/etc/hostname"),
        secret_.string(), std::string("\\") + secret_.string(), std::string("out.jpg"),
        std::string("outdir/secret.jpg"), std::string("alias.jpg"), std::string("pipe.jpg"), std::string("./"),
        std::string("sub/inside.jpg/")}) {
    EXPECT_EQ(status(file), 404u) << file;
  }
  EXPECT_EQ(status("./sub//inside.jpg"), 200u);
}

TEST(DownloadAddress, NamesThePortAndNeverExceedsItsBlock) {
  EXPECT_EQ(DownloadServer::addressFor(31000, "AA-BB\\clip.mp4"), "http://127.0.0.1:31000/download/AA-BB/clip.mp4");
  EXPECT_EQ(DownloadServer::addressFor(1024, "a b%c?#.jpg"), "http://127.0.0.1:1024/download/a%20b%25c%3F%23.jpg");
  const std::string prefix = "http://127.0.0.1:31000/download/";
  const std::string fits(DownloadServer::kAddressBuffer - 1 - prefix.size(), 'x');
  EXPECT_EQ(DownloadServer::addressFor(31000, fits).size(), DownloadServer::kAddressBuffer - 1);
  EXPECT_EQ(DownloadServer::addressFor(31000, fits + "x"), "");
}

TEST(DownloadServerStart, KeepsTheLastPortTriedWhenNoAttemptSucceeds) {
  ui::test::Watchdog watchdog(30s, "download server start");
  boost::system::error_code ec;
  auto occupant = webframework::WebServer::open("127.0.0.1", 0, ec);
  ASSERT_TRUE(occupant) << ec.message();
  const uint16_t taken = occupant->port();

  DownloadServer server;
  int attempts = 0;
  EXPECT_FALSE(server.start([&] {
    ++attempts;
    return taken;
  }));
  EXPECT_EQ(attempts, DownloadServer::kStartAttempts);
  EXPECT_FALSE(server.running());
  EXPECT_EQ(server.port(), taken);
  EXPECT_EQ(server.addressFor("x.jpg"), "http://127.0.0.1:" + std::to_string(taken) + "/download/x.jpg");

  // The default picker stays in 1024..31023 and finds a free port.
  ASSERT_TRUE(server.start());
  EXPECT_GE(server.port(), 1024);
  EXPECT_LE(server.port(), 31023);
  server.stop();
  EXPECT_FALSE(server.running());
}

TEST(DownloadServerHttp, ServesWorkFilesByteForByteOverLoopback) {
  ui::test::Watchdog watchdog(60s, "download server over HTTP");
  testing::ScopedTempDir temp;
  const DownloadServer::Folders folders = DownloadServer::currentFolders();
  const std::string picture = randomBytes(200 * 1024 + 3, 1);
  const std::string video = randomBytes(5 * 1024 * 1024 + 11, 2);
  const fs::path picturePath = fs::path(folders.image) / "00-11-22-33-44-55" / "snap 1.jpg";
  const fs::path videoPath = fs::path(folders.video) / "00-11-22-33-44-55" / "rec.mp4";
  writeFile(picturePath, picture);
  writeFile(videoPath, video);
  writeFile(fs::path(temp.path()) / "secret.jpg", "secret");

  DownloadServer server;
  ASSERT_TRUE(server.start([] { return uint16_t{0}; }));
  const uint16_t port = server.port();
  const std::string pictureAddress = server.addressForFile(picturePath.string());
  ASSERT_EQ(pictureAddress,
            "http://127.0.0.1:" + std::to_string(port) + "/download/00-11-22-33-44-55/snap%201.jpg");
  const std::string prefix = "http://127.0.0.1:" + std::to_string(port);
  const std::string pictureTarget = pictureAddress.substr(prefix.size());

  const auto gotPicture = httpRequest(port, "GET", pictureTarget);
  ASSERT_TRUE(gotPicture.transferred) << gotPicture.error;
  EXPECT_EQ(gotPicture.status, 200u);
  EXPECT_EQ(gotPicture.contentType, "image/jpeg");
  EXPECT_TRUE(gotPicture.body == picture);

  const auto gotVideo = httpRequest(port, "get", server.addressForFile(videoPath.string()).substr(prefix.size()));
  ASSERT_TRUE(gotVideo.transferred) << gotVideo.error;
  EXPECT_EQ(gotVideo.status, 200u);
  ASSERT_EQ(gotVideo.body.size(), video.size());
  EXPECT_TRUE(gotVideo.body == video);

  EXPECT_EQ(httpRequest(port, "POST", pictureTarget).status, 501u);
  EXPECT_EQ(httpRequest(port, "GET", "/download/..%2Fsecret.jpg").status, 404u);
  EXPECT_EQ(httpRequest(port, "GET", "/download/%2E%2E/%2E%2E/secret.jpg").status, 404u);
  EXPECT_EQ(httpRequest(port, "GET", "/download/missing.jpg").status, 404u);
  const auto rebound = httpRequest(port, "GET", pictureTarget, "downloads.example:" + std::to_string(port));
  EXPECT_EQ(rebound.status, 403u);
  EXPECT_TRUE(rebound.body.empty());
  server.stop();
}

}  // namespace
}  // namespace ksplugs
