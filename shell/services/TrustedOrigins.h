#pragma once
// The origins the user trusts for good: one origin a line in
// $XDG_CONFIG_HOME/kestrova/trusted-origins (~/.config when unset). The
// file is read at every question, so an edit takes effect at once; "Always"
// in the prompt appends to it.
//
// Entries compare exactly and without case, blanks around them and one
// trailing '/' ignored; '#' starts a comment line. An origin from the
// network is written only when it looks like one (scheme "://" host[:port],
// printable, no blanks, bounded), so the file stays one origin a line.
//
// Threads: any; appends are single write() calls to a file opened for
// appending, so concurrent appends do not interleave.
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

class TrustedOrigins {
 public:
  // Largest file read; the rest is ignored.
  static constexpr size_t kMaxFileBytes = 64 * 1024;

  explicit TrustedOrigins(std::string path) : path_(std::move(path)) {}
  // The per-user file; empty when neither XDG_CONFIG_HOME nor HOME is set.
  static std::string defaultPath();

  const std::string& path() const { return path_; }
  std::vector<std::string> read() const;
  bool contains(std::string_view origin) const;
  // Creates the folder (0700) and the file (0600) when missing; false when
  // the origin does not look like one or the file cannot be written (a link
  // in its place is not followed).
  bool append(std::string_view origin) const;

  static bool looksLikeOrigin(std::string_view origin);

 private:
  const std::string path_;
};

}  // namespace kestrova
