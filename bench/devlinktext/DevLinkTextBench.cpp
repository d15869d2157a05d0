// Time per lattice call: a date at 32 pixels, four 32-character lines at 32
// pixels, and a lattice near the size limit (many 16-pixel lines of digits).
// Reports the median and best microseconds per call over the runs.
//
// Usage: bench_devlinktext [calls per case, default 200]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/devlinktext/DevLinkText.h"

namespace {

struct Case {
  const char* name;
  std::u16string text;
  int32_t height;
  int callsDivisor;  // the large case runs fewer calls
};

}  // namespace

int main(int argc, char** argv) {
  int calls = 200;
  if (argc > 1) {
    calls = std::clamp(std::atoi(argv[1]), 1, 100000);
  }
  std::u16string fourLines;
  for (int i = 0; i < 4; ++i) {
    fourLines += i ? u"\n" : u"";
    fourLines += u"Camera 0" + std::u16string(1, char16_t(u'1' + i)) + u" entrance north gate AB";
  }
  std::u16string nearLimit;
  for (int i = 0; i < 2900; ++i) {
    nearLimit += i ? u"\n0123456789" : u"0123456789";
  }
  const Case cases[] = {
      {"date, 32 px", u"2024-05-06 07:08:09", 32, 1},
      {"four 32-character lines, 32 px", fourLines, 32, 1},
      {"near the size limit (16 px lines)", nearLimit, 16, 50},
  };
  std::vector<unsigned char> buffer(1048576);
  std::printf("%-36s %8s %10s %10s %10s\n", "case", "bytes", "dots", "median us", "best us");
  for (const Case& c : cases) {
    DevLinkTextLogFont font{};
    font.lfHeight = c.height;
    const int n = std::max(1, calls / c.callsDivisor);
    std::vector<double> us;
    uint32_t length = 0;
    int32_t width = 0;
    int32_t height = 0;
    for (int i = 0; i < n; ++i) {
      length = uint32_t(buffer.size());
      const auto start = std::chrono::steady_clock::now();
      const int rc = DevLinkText_WStringToLattice(c.text.c_str(), &font, buffer.data(), &length, &width, &height);
      const auto end = std::chrono::steady_clock::now();
      if (rc != DEVLINKTEXT_OK) {
        std::fprintf(stderr, "%s: result %d\n", c.name, rc);
        return 1;
      }
      us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(us.begin(), us.end());
    char dots[32];
    std::snprintf(dots, sizeof dots, "%dx%d", width, height);
    std::printf("%-36s %8u %10s %10.1f %10.1f\n", c.name, length, dots, us[us.size() / 2], us.front());
  }
  return 0;
}
