#include "shell/app/CrashDump.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// A private temporary folder made the process's temporary folder, so the
// child of a death test writes its dump where this test looks.
class DumpFolder {
 public:
  DumpFolder() {
    char pattern[] = "/tmp/kestrova-crash-XXXXXX";
    path_ = ::mkdtemp(pattern);
    const char* old = std::getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (hadOld_) saved_ = old;
    ::setenv("TMPDIR", path_.c_str(), 1);
  }
  ~DumpFolder() {
    if (hadOld_) {
      ::setenv("TMPDIR", saved_.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    fs::remove_all(path_);
  }
  // The dumps in the folder, by content.
  std::vector<std::string> dumps() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path_)) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(0u, name.rfind("Kestrova_x738A_", 0)) << name;
      EXPECT_EQ(".dmp", entry.path().extension().string()) << name;
      std::ifstream in(entry.path(), std::ios::binary);
      found.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return found;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string saved_;
  bool hadOld_ = false;
};

// A page that may not be touched; writing to it faults with its address.
// (A null pointer would be caught by the undefined-behaviour checker before
// it could fault.)
void* forbiddenPage() {
  static void* const page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return page;
}

std::string hexAddress(const void* address) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
  return text;
}

void faultOnWorkerThread() {
  installCrashHandler();
  std::thread worker([] {
    ::prctl(PR_SET_NAME, "ks-worker", 0, 0, 0);
    *static_cast<volatile int*>(forbiddenPage()) = 1;
  });
  worker.join();
}

// Deep enough to run off any stack; the volatile buffer keeps every frame.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
int recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

// The child of each death test is a fork taken at the EXPECT_EXIT, so it
// writes into the folder this test made, not into one of its own.
class CrashDumpTest : public ::testing::Test {
 protected:
  CrashDumpTest() { GTEST_FLAG_SET(death_test_style, "fast"); }
};

TEST_F(CrashDumpTest, FaultOnAWorkerThreadWritesADumpAndDiesBySignal) {
  DumpFolder folder;
  const void* page = forbiddenPage();  // mapped here, so the child faults at the same address
  EXPECT_EXIT(faultOnWorkerThread(), ::testing::KilledBySignal(SIGSEGV), "");
  const auto dumps = folder.dumps();
  ASSERT_EQ(1u, dumps.size());
  const std::string& dump = dumps[0];
  EXPECT_NE(std::string::npos, dump.find("signal: 11 SIGSEGV\n"));
  EXPECT_NE(std::string::npos, dump.find("fault address: " + hexAddress(page) + "\n"));
  EXPECT_NE(std::string::npos, dump.find("thread name: ks-worker\n"));
  EXPECT_NE(std::string::npos, dump.find("version: " KESTROVA_VERSION_TEXT "\n"));
  const size_t trace = dump.find("backtrace:\n");
  const size_t map = dump.find("memory map:\n");
  ASSERT_NE(std::string::npos, trace);
  ASSERT_NE(std::string::npos, map);
  EXPECT_LT(trace + 20, map) << "the backtrace has frames";
  EXPECT_NE(std::string::npos, dump.find("[stack]", map)) << "the memory map follows";
  const auto mode = fs::status(folder.path() + "/" + fs::directory_iterator(folder.path())->path().filename().string()).permissions();
  EXPECT_EQ(fs::perms::none, mode & (fs::perms::group_all | fs::perms::others_all));
}

TEST_F(CrashDumpTest, StackOverflowAndAbortAreDumpedToo) {
  {
    DumpFolder folder;
    EXPECT_EXIT(
        {
          installCrashHandler();
          std::exit(recurse(0));
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    const auto dumps = folder.dumps();
    ASSERT_EQ(1u, dumps.size());
    EXPECT_NE(std::string::npos, dumps[0].find("signal: 11 SIGSEGV\n"));
  }
  {
    DumpFolder folder;
    EXPECT_EXIT(
        {
          installCrashHandler();
          std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "");
    const auto dumps = folder.dumps();
    ASSERT_EQ(1u, dumps.size());
    EXPECT_NE(std::string::npos, dumps[0].find("signal: 6 SIGABRT\n"));
  }
}

TEST_F(CrashDumpTest, WithoutAWritableFolderTheProcessStillDiesBySignal) {
  DumpFolder folder;
  const std::string missing = folder.path() + "/gone";
  ::setenv("TMPDIR", missing.c_str(), 1);
  EXPECT_EXIT(faultOnWorkerThread(), ::testing::KilledBySignal(SIGSEGV), "");
  ::setenv("TMPDIR", folder.path().c_str(), 1);
  EXPECT_TRUE(folder.dumps().empty());
  EXPECT_FALSE(fs::exists(missing));
}

}  // namespace
}  // namespace kestrova
