// The download server as the shell meets it through the shared object: it
// comes up with KsComGlobalInit on a loopback port from 1024 to 31023, hands
// out the library's work files over plain HTTP byte for byte, refuses what
// lies outside them, and is gone after KsComGlobalUninit. The library starts
// once per process, so this is one test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "platform/webframework/testing/HttpTestClient.h"
#include "plugin/api/ksplugs.h"
#include "plugin/device/TcpTable.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "tests/support/Watchdog.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ksplugs::TcpTable;
using webframework::testing::httpRequest;

// Ports this process listens on at 127.0.0.1.
std::set<uint16_t> ownLoopbackListeners() {
  std::set<uint16_t> ports;
  for (const TcpTable::Row& row : TcpTable::read()) {
    if (row.ipv6 || row.state != 10 || row.localAddress != "0100007F") continue;
    if (TcpTable::ownerOfInode(row.inode) == static_cast<uint32_t>(::getpid())) ports.insert(row.localPort);
  }
  return ports;
}

TEST(DownloadExports, ServesWorkFilesWhileTheLibraryRuns) {
  kstest::Watchdog watchdog(60s, "download server through the exports");
  ksplugs::testing::ScopedTempDir temp;
  const std::set<uint16_t> before = ownLoopbackListeners();
  ASSERT_EQ(KsComGlobalInit(), 0);

  std::set<uint16_t> started;
  for (uint16_t port : ownLoopbackListeners()) {
    if (!before.count(port)) started.insert(port);
  }
  ASSERT_EQ(started.size(), 1u);
  const uint16_t port = *started.begin();
  EXPECT_GE(port, 1024);
  EXPECT_LE(port, 31023);

  // Start-up wiped the work folders; files written now are the library's own.
  const fs::path image = fs::path(temp.workRoot()) / "Image" / "00-11-22-33-44-55" / "00-11-22-33-44-55_3.jpg";
  const fs::path video = fs::path(temp.workRoot()) / "Video" / "00-11-22-33-44-55" / "record_3.mp4";
  std::mt19937 generator(7);
  std::string jpeg(150000, '\0');
  for (char& c : jpeg) c = static_cast<char>(generator());
  std::string mp4(2 * 1024 * 1024 + 5, '\0');
  for (char& c : mp4) c = static_cast<char>(generator());
  fs::create_directories(image.parent_path());
  fs::create_directories(video.parent_path());
  std::ofstream(image, std::ios::binary) << jpeg;
  std::ofstream(video, std::ios::binary) << mp4;
  std::ofstream(fs::path(temp.path()) / "private.jpg") << "not for the page";

  const auto picture = httpRequest(port, "GET", "/download/00-11-22-33-44-55/00-11-22-33-44-55_3.jpg");
  ASSERT_TRUE(picture.transferred) << picture.error;
  EXPECT_EQ(picture.status, 200u);
  EXPECT_TRUE(picture.body == jpeg);
  const auto recording = httpRequest(port, "GET", "/download/00-11-22-33-44-55\\record_3.mp4");
  ASSERT_TRUE(recording.transferred) << recording.error;
  EXPECT_EQ(recording.status, 200u);
  EXPECT_TRUE(recording.body == mp4);

  EXPECT_EQ(httpRequest(port, "GET", "/download/../../private.jpg").status, 404u);
  EXPECT_EQ(httpRequest(port, "GET", "/download/" + (fs::path(temp.path()) / "private.jpg").string()).status, 404u);
  EXPECT_EQ(httpRequest(port, "PUT", "/download/00-11-22-33-44-55/00-11-22-33-44-55_3.jpg").status, 501u);
  EXPECT_EQ(httpRequest(port, "GET", "/download/x.jpg", "attacker.example").status, 403u);

  ASSERT_EQ(KsComGlobalUninit(), 0);
  EXPECT_FALSE(ownLoopbackListeners().count(port));
  EXPECT_FALSE(httpRequest(port, "GET", "/download/00-11-22-33-44-55/00-11-22-33-44-55_3.jpg").transferred);
}

}  // namespace
