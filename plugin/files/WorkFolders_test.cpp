#include "plugin/files/WorkFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "plugin/files/testing/ScopedTempDir.h"

namespace ksplugs {
namespace {

namespace fs = std::filesystem;

TEST(WorkFolders, NamesBelowTheTemporaryFolder) {
  testing::ScopedTempDir temp;
  // A temporary path given with a trailing separator, and through a symbolic
  // link, still yields its canonical form with exactly one separator before
  // "Kestrova".
  const fs::path real = fs::path(temp.path()) / "real";
  fs::create_directories(real);
  fs::create_symlink(real, fs::path(temp.path()) / "link");
  setenv("TMPDIR", (temp.path() + "/link/").c_str(), 1);
  const std::string base = real.string();

  EXPECT_EQ(WorkFolders::folder(1), base + "/Kestrova/Video/");
  EXPECT_EQ(WorkFolders::folder(2), base + "/Kestrova/Image/");
  EXPECT_EQ(WorkFolders::folder(3), base + "/Kestrova/DebugEvent/");
  EXPECT_EQ(WorkFolders::folder(4), base);
  EXPECT_EQ(WorkFolders::folder(0), base);
  EXPECT_EQ(WorkFolders::root(), base + "/Kestrova");
  EXPECT_EQ(WorkFolders::deviceImageFolder("00-11-22-33-44-55"), base + "/Kestrova/Image/00-11-22-33-44-55");
}

TEST(WorkFolders, DeviceFolderNeverLeavesTheImageFolder) {
  testing::ScopedTempDir temp;
  for (const char* hostile : {"", ".", "..", "../..", "a/b", "/etc", "../../../../.."}) {
    EXPECT_EQ(WorkFolders::deviceImageFolder(hostile), "") << hostile;
    EXPECT_EQ(WorkFolders::deviceVideoFolder(hostile), "") << hostile;
  }
  EXPECT_EQ(WorkFolders::deviceVideoFolder("00-11-22-33-44-55"),
            WorkFolders::folder(WorkFolderKind::kVideo) + "00-11-22-33-44-55");
  EXPECT_EQ(WorkFolders::deviceImageFolder(std::string_view("ab\0cd", 5)), "");
  // Dots inside a name are harmless.
  EXPECT_NE(WorkFolders::deviceImageFolder("a..b"), "");
}

TEST(WorkFolders, DeleteTreeRemovesEverythingAndIgnoresWhatIsMissing) {
  testing::ScopedTempDir temp;
  const fs::path tree = fs::path(WorkFolders::folder(2)) / "dev" / "sub";
  fs::create_directories(tree);
  std::ofstream(tree / "picture.jpg") << "x";
  WorkFolders::deleteTree(WorkFolders::root());
  EXPECT_FALSE(fs::exists(WorkFolders::root()));
  EXPECT_TRUE(fs::exists(temp.path()));
  WorkFolders::deleteTree(WorkFolders::root());  // missing: no error
  WorkFolders::deleteTree("");                    // never means the current folder
}

}  // namespace
}  // namespace ksplugs
