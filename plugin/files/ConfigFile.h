#pragma once
// The library's few tunable values, read from "config.ini" in the folder of
// the host program's executable. Today there is one: [Record] Duration, the
// most seconds one recording runs before it ends and is offered to the page
// (0 lets the recorder choose); no further file starts until the page stops
// and starts the recording again.
#include <string>
#include <string_view>

namespace ksplugs {

class ConfigFile {
 public:
  // "<folder of /proc/self/exe>/config.ini"; empty when the executable's path
  // cannot be read.
  static std::string defaultPath();

  // The integer value of `key` in `section` of the host program's file.
  static int readInt(std::string_view section, std::string_view key);

  // The same for a given file. Answers 0 when the file, the section or the
  // key is missing, or when the value is not a whole decimal number that fits
  // an int. Section and key names compare without regard to case, as INI
  // readers usually do; the first matching key wins.
  static int readInt(const std::string& path, std::string_view section, std::string_view key);
};

}  // namespace ksplugs
