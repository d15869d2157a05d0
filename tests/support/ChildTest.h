#pragma once
// Runs stories of the current test program in a child process: the C
// library reads some settings (the time zone, resource limits) once per
// process, so a story that needs other ones runs in a fresh process of its
// own. The child gets KESTROVA_TEST_CHILD=1, by which a test file registers
// the stories kept for children.
#include <string>
#include <vector>

namespace kstest {

// Runs the tests matching `filter` (a --gtest_filter pattern) in a child of
// this program, with `env` ("NAME=value" entries) added to or replacing
// this process's environment. The child's wait status; -1 when it could not
// be started.
int runTestsInChild(const std::string& filter, const std::vector<std::string>& env = {});

// Whether this process is such a child.
bool inChildTest();

}  // namespace kstest
