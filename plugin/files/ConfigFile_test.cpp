#include "plugin/files/ConfigFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "plugin/files/testing/ScopedTempDir.h"

namespace ksplugs {
namespace {

class ConfigFileTest : public ::testing::Test {
 protected:
  std::string write(const std::string& text) {
    const std::string path = temp_.path() + "/config.ini";
    std::ofstream(path) << text;
    return path;
  }
  testing::ScopedTempDir temp_;
};

TEST_F(ConfigFileTest, ReadsTheRecordDuration) {
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nDuration=600\n"), "Record", "Duration"), 600);
  EXPECT_EQ(ConfigFile::readInt(write("; comment\n[other]\nDuration=5\n[record]\nduration = 42 \n"), "Record",
                                "Duration"),
            42);
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nDuration=-5\n"), "Record", "Duration"), -5);
}

TEST_F(ConfigFileTest, ZeroWhenMissingOrNotANumber) {
  EXPECT_EQ(ConfigFile::readInt(temp_.path() + "/absent.ini", "Record", "Duration"), 0);
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nDuration=0\n"), "Record", "Duration"), 0);
  EXPECT_EQ(ConfigFile::readInt(write("[Other]\nDuration=600\n"), "Record", "Duration"), 0);
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nLength=600\n"), "Record", "Duration"), 0);
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nDuration=ten\n"), "Record", "Duration"), 0);
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nDuration=12abc\n"), "Record", "Duration"), 0);
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nDuration=99999999999999999999\n"), "Record", "Duration"), 0);
  EXPECT_EQ(ConfigFile::readInt(write("[Record]\nDuration=\n"), "Record", "Duration"), 0);
  // A broken line elsewhere does not hide the key.
  EXPECT_EQ(ConfigFile::readInt(write("garbage without equals\n[Record]\nDuration=300\n"), "Record", "Duration"), 300);
}

TEST_F(ConfigFileTest, TheFileSitsBesideTheExecutable) {
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_EQ(ConfigFile::defaultPath(), (std::filesystem::path(exe).parent_path() / "config.ini").string());
}

}  // namespace
}  // namespace ksplugs
