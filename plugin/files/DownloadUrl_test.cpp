// File names and download addresses of the library's own files.
#include "plugin/files/DownloadUrl.h"

#include <gtest/gtest.h>

#include "plugin/files/SnapshotPath.h"

namespace ksplugs {
namespace {

TEST(SnapshotPath, NamesFollowTheKindTimeAndCounter) {
  const sys::CalendarTime t{2024, 5, 0, 6, 7, 8, 9, 0};
  EXPECT_EQ(SnapshotPath::fileName(true, t, 12, 2), "1_2024_05_06_07_08_09_12.jpg");
  EXPECT_EQ(SnapshotPath::fileName(false, t, 1, 1), "2_2024_05_06_07_08_09_1.bmp");
  EXPECT_EQ(SnapshotPath::fileName(true, t, 3, 7), "1_2024_05_06_07_08_09_3");
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "00-11-22-33-44-55", 3),
            "/tmp/Kestrova/Image/00-11-22-33-44-55/3");
  // A MAC text from the page that would leave the image folder names nothing.
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "../..", 3), "");
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "a/b", 3), "");
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "", 3), "");
}

TEST(DownloadUrl, NeedsARunningServerAndAFileBelowTheFolder) {
  const std::string folder = "/tmp/Kestrova/Image/";
  EXPECT_FALSE(DownloadUrl::forFile(0, folder, folder + "mac/3/1_x.jpg"));
  EXPECT_EQ(DownloadUrl::forFile(41234, folder, folder + "mac/3/1_x.jpg"),
            "http://127.0.0.1:41234/download/mac/3/1_x.jpg");
  EXPECT_EQ(DownloadUrl::forFile(41234, folder, folder + "mac\\3\\a.jpg"), "http://127.0.0.1:41234/download/mac/3/a.jpg");
  // A caller's own path outside the work folder has no download address.
  EXPECT_FALSE(DownloadUrl::forFile(41234, folder, "/home/user/pictures/a.jpg"));
  EXPECT_FALSE(DownloadUrl::forFile(41234, folder, "/tmp/Kestrova/Imagery/a.jpg"));
  EXPECT_FALSE(DownloadUrl::forFile(41234, folder, folder));
}

TEST(DownloadUrl, AnAddressThatWouldNotFitItsBlockIsNotMadeRatherThanCut) {
  const std::string folder = "/tmp/Kestrova/Image/";
  const std::string prefix = "http://127.0.0.1:41234/download/";
  const std::string fits(DownloadUrl::kBlockSize - 1 - prefix.size(), 'a');
  const auto url = DownloadUrl::forFile(41234, folder, folder + fits);
  ASSERT_TRUE(url);
  EXPECT_EQ(url->size(), DownloadUrl::kBlockSize - 1);
  EXPECT_FALSE(DownloadUrl::forFile(41234, folder, folder + fits + "a"));
}

}  // namespace
}  // namespace ksplugs
