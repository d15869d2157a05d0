#include "shell/services/TrustedOrigins.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrova {
namespace {

class TrustedOriginsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrova-trust-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string dir_;
};

TEST_F(TrustedOriginsTest, EntriesMatchExactlyWithoutCaseBlanksOrATrailingSlash) {
  const std::string path = dir_ + "/trusted-origins";
  std::ofstream(path) << "# cameras at home\n  https://cams.example  \nHTTP://192.168.1.10:8080/\n\n#http://commented.example\n";
  const TrustedOrigins trusted(path);
  struct Case {
    const char* origin;
    bool expected;
  } cases[] = {
      {"https://cams.example", true},   {"https://CAMS.example", true},     {"https://cams.example/", true},
      {"http://192.168.1.10:8080", true}, {"http://192.168.1.10", false},  {"https://cams.example.evil", false},
      {"http://cams.example", false},   {"http://commented.example", false}, {"", false},
      {"#", false},
  };
  for (const Case& c : cases) EXPECT_EQ(trusted.contains(c.origin), c.expected) << c.origin;
  EXPECT_FALSE(TrustedOrigins(dir_ + "/missing").contains("https://cams.example"));
  EXPECT_FALSE(TrustedOrigins("").contains("https://cams.example"));
}

TEST_F(TrustedOriginsTest, OnlyWhatLooksLikeAnOriginIsWritten) {
  for (const char* origin : {"https://cams.example", "http://127.0.0.1:8080", "http://[::1]:80", "app+x-y.z://h"}) {
    EXPECT_TRUE(TrustedOrigins::looksLikeOrigin(origin)) << origin;
  }
  for (const char* origin : {"", "null", "cams.example", "://cams.example", "https://", "1http://a",
                             "https://a.example/path", "https://a.example\nhttps://b.example", "https://a b",
                             "https://user@a.example", "https://a.example?x", "https://a\x7f"}) {
    EXPECT_FALSE(TrustedOrigins::looksLikeOrigin(origin)) << origin;
  }
  EXPECT_FALSE(TrustedOrigins::looksLikeOrigin(std::string("https://") + std::string(250, 'a')));
}

TEST_F(TrustedOriginsTest, AppendingMakesPrivateFoldersAndNeverFollowsALink) {
  const std::string path = dir_ + "/config/kestrova/trusted-origins";
  const TrustedOrigins trusted(path);
  EXPECT_TRUE(trusted.append("https://cams.example/"));
  EXPECT_TRUE(trusted.append("http://192.168.1.10"));
  EXPECT_FALSE(trusted.append("https://a.example\nhttps://evil.example"));
  EXPECT_EQ(read(path), "https://cams.example\nhttp://192.168.1.10\n");
  EXPECT_TRUE(trusted.contains("http://192.168.1.10"));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir_ + "/config/kestrova").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // A link where the file should be: nothing is written through it, and
  // nothing is read through it either.
  const std::string victim = dir_ + "/victim";
  std::ofstream(victim) << "https://planted.example\n";
  const std::string linked = dir_ + "/linked";
  ASSERT_EQ(::symlink(victim.c_str(), linked.c_str()), 0);
  EXPECT_FALSE(TrustedOrigins(linked).append("https://cams.example"));
  EXPECT_FALSE(TrustedOrigins(linked).contains("https://planted.example"));
  EXPECT_EQ(read(victim), "https://planted.example\n");
}

}  // namespace
}  // namespace kestrova
