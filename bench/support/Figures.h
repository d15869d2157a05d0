#pragma once
// Machine-readable lines beside a benchmark's own report, which
// scripts/run-bench gathers into one table and one chart at the end:
//   FIGURE <what> <value> <unit> <target>   a measured figure and its target
//                                           ("<= 1.3", ">= 0.8", or "-" when
//                                           it is only reported)
//   CURVE <name> <x> <y>                    one point of a chart curve
// Fields are tab-separated; <what> and <name> hold no tabs.
#include <cstdio>
#include <string>

namespace benchsupport {

inline void figure(const std::string& what, double value, const char* unit, const char* target = "-") {
  std::printf("FIGURE\t%s\t%.4g\t%s\t%s\n", what.c_str(), value, unit, target);
  std::fflush(stdout);
}

inline void curvePoint(const std::string& name, double x, double y) {
  std::printf("CURVE\t%s\t%.4g\t%.4g\n", name.c_str(), x, y);
  std::fflush(stdout);
}

}  // namespace benchsupport
