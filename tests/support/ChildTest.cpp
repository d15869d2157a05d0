#include "tests/support/ChildTest.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace kstest {

int runTestsInChild(const std::string& filter, const std::vector<std::string>& env) {
  // Everything the child needs is built before the fork: it only execs.
  std::vector<std::string> added(env);
  added.emplace_back("KESTROVA_TEST_CHILD=1");
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* equals = std::strchr(*e, '=');
    const size_t nameLength = equals ? static_cast<size_t>(equals - *e) + 1 : std::strlen(*e);
    bool replaced = false;
    for (const std::string& a : added) replaced = replaced || a.compare(0, nameLength, *e, nameLength) == 0;
    if (!replaced) environment.emplace_back(*e);
  }
  environment.insert(environment.end(), added.begin(), added.end());
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::error_code error;
  std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) return -1;
  std::string filterArgument = "--gtest_filter=" + filter;
  char* argv[] = {self.data(), filterArgument.data(), nullptr};
  const pid_t child = ::fork();
  if (child == -1) return -1;
  if (child == 0) {
    ::execve(argv[0], argv, envp.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) == -1) {
    if (errno != EINTR) return -1;
  }
  return status;
}

bool inChildTest() { return std::getenv("KESTROVA_TEST_CHILD") != nullptr; }

}  // namespace kstest
