// The parts of a download that need no device: where a range really starts
// among the recordings a device lists, and the user's chosen file.
#include "plugin/download/DownloadTask.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "plugin/download/TargetFile.h"
#include "plugin/files/testing/ScopedTempDir.h"

namespace ksplugs {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kHour = 3600;
constexpr int64_t kMinute = 60;

TEST(DownloadRange, StartsAtTheFirstRecordedMomentOfTheRange) {
  // The wanted range is 10:00-11:00 in every case; times are seconds of the day.
  const int64_t ws = 10 * kHour, we = 11 * kHour;
  struct Case {
    const char* what;
    std::vector<RecordedSpan> recordings;
    std::optional<int64_t> start;
  };
  const Case cases[] = {
      {"inside the first of two", {{9 * kHour + 30 * kMinute, 10 * kHour + 20 * kMinute}, {10 * kHour + 40 * kMinute, 12 * kHour}}, ws},
      {"one recording starting later", {{10 * kHour + 30 * kMinute, 12 * kHour}}, 10 * kHour + 30 * kMinute},
      {"only before the range", {{8 * kHour, 9 * kHour}, {9 * kHour, 9 * kHour + 59 * kMinute}}, std::nullopt},
      {"only after the range", {{11 * kHour + 1, 12 * kHour}}, std::nullopt},
      {"listed out of order", {{10 * kHour + 40 * kMinute, 12 * kHour}, {10 * kHour + 10 * kMinute, 10 * kHour + 20 * kMinute}},
       10 * kHour + 10 * kMinute},
      {"covering one listed late", {{10 * kHour + 40 * kMinute, 12 * kHour}, {9 * kHour, 10 * kHour + 5 * kMinute}}, ws},
      {"starting at the range's last second", {{we, we + kHour}}, we},
      {"ending as the range starts", {{9 * kHour, ws}}, std::nullopt},
      {"nothing listed", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DownloadTask::rangeStart(c.recordings, ws, we), c.start) << c.what;
  }
}

TEST(DownloadTarget, TheUsersChosenFileMayBeReplacedButNotThroughALink) {
  testing::ScopedTempDir temp;
  const fs::path folder = temp.path();
  const fs::path existing = folder / "old.mp4";
  std::ofstream(existing) << "the user's earlier download";
  const fs::path other = folder / "other.txt";
  std::ofstream(other) << "precious";
  fs::create_symlink(other, folder / "link.mp4");

  int fd = -1;
  bool created = true;
  ASSERT_EQ(TargetFile::openChosen(existing.string(), &fd, &created), KS_OK);
  EXPECT_FALSE(created);
  EXPECT_EQ(fs::file_size(existing), 0u);  // truncated, as the dialog confirmed
  ::close(fd);

  ASSERT_EQ(TargetFile::openChosen((folder / "new.mp4").string(), &fd, &created), KS_OK);
  EXPECT_TRUE(created);
  struct stat info {};
  ASSERT_EQ(::fstat(fd, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ::close(fd);

  EXPECT_EQ(TargetFile::openChosen((folder / "link.mp4").string(), &fd, &created), KS_E_FILE);
  EXPECT_EQ(TargetFile::openChosen(folder.string(), &fd, &created), KS_E_FILE);  // a directory
  EXPECT_EQ(TargetFile::openChosen("relative.mp4", &fd, &created), KS_E_FILE);
  EXPECT_EQ(fd, -1);
  std::stringstream kept;
  kept << std::ifstream(other).rdbuf();
  EXPECT_EQ(kept.str(), "precious");
}

}  // namespace
}  // namespace ksplugs
