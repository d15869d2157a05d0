#include "bench/support/ProcessCpu.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace benchsupport {

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::optional<unsigned long long> statCpuTicks(std::string_view stat) {
  const size_t close = stat.rfind(')');
  if (close == std::string_view::npos || stat.find('(') == std::string_view::npos) return std::nullopt;
  // After "pid (comm)": state is field 3, utime field 14, stime field 15.
  std::istringstream rest{std::string(stat.substr(close + 1))};
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int index = 3; index <= 15; ++index) {
    if (!(rest >> field)) return std::nullopt;
    if (index < 14) continue;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(field.c_str(), &end, 10);
    if (end == field.c_str() || *end != '\0') return std::nullopt;
    (index == 14 ? utime : stime) = value;
  }
  return utime + stime;
}

std::optional<double> processCpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  if (!file) return std::nullopt;
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const auto ticks = statCpuTicks(text);
  if (!ticks) return std::nullopt;
  return static_cast<double>(*ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace benchsupport
