#include "plugin/files/WorkFolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "plugin/files/DownloadServer.h"
#include "plugin/files/testing/ScopedTempDir.h"

namespace ksplugs {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(WorkFolders, NamesBelowTheTemporaryFolder) {
  testing::ScopedTempDir temp;
  // A temporary path given with a trailing separator, and through a symbolic
  // link, still yields its canonical form with exactly one separator before
  // the root's name, which carries the user id.
  const fs::path real = fs::path(temp.path()) / "real";
  fs::create_directories(real);
  fs::create_symlink(real, fs::path(temp.path()) / "link");
  setenv("TMPDIR", (temp.path() + "/link/").c_str(), 1);
  const std::string base = real.string();
  const std::string root = base + "/Kestrova-" + std::to_string(::geteuid());

  EXPECT_EQ(WorkFolders::root(), root);
  EXPECT_EQ(WorkFolders::folder(1), root + "/Video/");
  EXPECT_EQ(WorkFolders::folder(2), root + "/Image/");
  EXPECT_EQ(WorkFolders::folder(3), root + "/DebugEvent/");
  EXPECT_EQ(WorkFolders::folder(4), base);
  EXPECT_EQ(WorkFolders::folder(0), base);
  EXPECT_EQ(WorkFolders::deviceImageFolder("00-11-22-33-44-55"), root + "/Image/00-11-22-33-44-55");
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

// Whatever stands at the root's name before the library comes decides
// whether there are work folders at all. Nothing that is not a private
// folder of ours is used, changed or removed.
TEST(WorkFolders, OnlyAPrivateRootOfOursIsUsed) {
  struct Case {
    const char* what;
    std::function<void(const std::string& root, const std::string& outside)> plant;
    bool usable;
  };
  std::vector<Case> cases = {
      {"missing", [](const std::string&, const std::string&) {}, true},
      {"ours, 0700", [](const std::string& root, const std::string&) { ::mkdir(root.c_str(), 0700); }, true},
      {"a link to a folder",
       [](const std::string& root, const std::string& outside) { fs::create_directory_symlink(outside, root); }, false},
      {"a dangling link",
       [](const std::string& root, const std::string& outside) { fs::create_symlink(outside + "/none", root); }, false},
      {"a file", [](const std::string& root, const std::string&) { std::ofstream(root) << "x"; }, false},
      {"a folder open to others",
       [](const std::string& root, const std::string&) {
         ::mkdir(root.c_str(), 0755);
         ::chmod(root.c_str(), 0755);
       },
       false},
      {"a folder others may write",
       [](const std::string& root, const std::string&) {
         ::mkdir(root.c_str(), 0700);
         ::chmod(root.c_str(), 0770);
       },
       false},
  };
  // Only root can give a folder to another user.
  if (::geteuid() == 0) {
    cases.push_back({"another user's folder",
                     [](const std::string& root, const std::string&) {
                       ::mkdir(root.c_str(), 0700);
                       [[maybe_unused]] const int changed = ::chown(root.c_str(), 65534, 65534);
                     },
                     false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::ScopedTempDir temp;
    const std::string root = WorkFolders::root();
    const std::string outside = temp.path() + "/outside";
    fs::create_directory(outside);
    c.plant(root, outside);

    const std::string picture = WorkFolders::deviceImageFolder("AA-BB") + "/1/picture.jpg";
    const int fd = WorkFolders::createFile(picture);
    EXPECT_EQ(fd >= 0, c.usable);
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(WorkFolders::makeFolder(WorkFolders::folder(WorkFolderKind::kVideo)), c.usable);
    EXPECT_EQ(!DownloadServer::currentFolders().image.empty(), c.usable) << "the download server offers it";
    if (c.usable) {
      EXPECT_EQ(modeOf(root), 0700u);
      EXPECT_EQ(modeOf(WorkFolders::folder(WorkFolderKind::kImage)), 0700u);
      EXPECT_EQ(modeOf(WorkFolders::deviceImageFolder("AA-BB") + "/1"), 0700u);
      EXPECT_EQ(modeOf(picture), 0600u);
      EXPECT_LT(WorkFolders::createFile(picture), 0) << "never over an existing file";
    }
    // Start-up's wipe leaves what is not ours where it is.
    WorkFolders::deleteTree(root);
    EXPECT_EQ(fs::exists(fs::symlink_status(root)), !c.usable && std::string(c.what) != "missing");
    EXPECT_TRUE(fs::is_empty(outside));
  }
}

// A link planted below the root is never followed: not to make folders or
// files, and not by a deletion, which removes the link and leaves its
// target alone.
TEST(WorkFolders, LinksBelowTheRootAreNeverFollowed) {
  testing::ScopedTempDir temp;
  const std::string outside = temp.path() + "/Documents";
  fs::create_directory(outside);
  std::ofstream(outside + "/letter.txt") << "keep me";
  ASSERT_TRUE(WorkFolders::makeFolder(WorkFolders::folder(WorkFolderKind::kVideo)));

  // The image folder itself is a link: nothing is made through it.
  fs::create_directory_symlink(outside, WorkFolders::root() + "/Image");
  EXPECT_FALSE(WorkFolders::makeFolder(WorkFolders::deviceImageFolder("Documents")));
  EXPECT_LT(WorkFolders::createFile(WorkFolders::root() + "/Image/new.jpg"), 0);
  // A device named like the folder behind the link deletes nothing there.
  WorkFolders::deleteTree(WorkFolders::deviceImageFolder("letter.txt"));
  WorkFolders::deleteTree(WorkFolders::deviceImageFolder("Documents"));
  EXPECT_EQ(readFile(outside + "/letter.txt"), "keep me");
  // Deleting the image folder deletes the link, not the folder.
  WorkFolders::deleteTree(WorkFolders::root() + "/Image");
  EXPECT_FALSE(fs::exists(fs::symlink_status(WorkFolders::root() + "/Image")));
  EXPECT_EQ(readFile(outside + "/letter.txt"), "keep me");

  // A tree with links inside (to a folder and to a file outside) goes, and
  // only the tree goes.
  const std::string device = WorkFolders::deviceVideoFolder("AA-BB");
  const int fd = WorkFolders::createFile(device + "/2/record.mp4");
  ASSERT_GE(fd, 0);
  ::close(fd);
  fs::create_directory_symlink(outside, device + "/2/away");
  fs::create_symlink(outside + "/letter.txt", device + "/letter");
  WorkFolders::deleteTree(device);
  EXPECT_FALSE(fs::exists(fs::symlink_status(device)));
  EXPECT_EQ(readFile(outside + "/letter.txt"), "keep me");

  // The whole root, and nothing outside it, whatever the path says.
  WorkFolders::deleteTree(outside);
  WorkFolders::deleteTree(WorkFolders::root() + "/../Documents");
  EXPECT_EQ(readFile(outside + "/letter.txt"), "keep me");
  WorkFolders::deleteTree(WorkFolders::root());
  EXPECT_FALSE(fs::exists(WorkFolders::root()));
  EXPECT_EQ(readFile(outside + "/letter.txt"), "keep me");
  WorkFolders::deleteTree(WorkFolders::root());  // missing: no error
  WorkFolders::deleteTree("");                   // never means the current folder
}

}  // namespace
}  // namespace ksplugs
