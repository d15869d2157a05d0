#pragma once
// Tests that compare against an outside program (ffmpeg, ffprobe) skip when
// it is missing on a developer's machine, but must run where the set-up
// installs it: with KESTROVA_REQUIRE_TOOLS set (make test sets it), a missing
// program fails the test instead of skipping it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kstest {

// Whether `command -version` runs.
inline bool toolRuns(const char* command) {
  return std::system((std::string(command) + " -version >/dev/null 2>&1").c_str()) == 0;
}

inline bool toolsRequired() {
  const char* value = std::getenv("KESTROVA_REQUIRE_TOOLS");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

}  // namespace kstest

// Skips the test without `tool`, or fails it when the tools are required.
#define KSTEST_REQUIRE_TOOL(tool)                                                      \
  do {                                                                                 \
    if (!::kstest::toolRuns(tool)) {                                                   \
      if (::kstest::toolsRequired()) FAIL() << tool << " is required but does not run"; \
      GTEST_SKIP() << tool << " is not installed";                                     \
    }                                                                                  \
  } while (false)
