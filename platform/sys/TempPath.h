#pragma once
// The user's temporary folder: $TMPDIR, else /tmp, made canonical, with a
// trailing '/'.
#include <string>

namespace sys {

std::string tempFolder();

}  // namespace sys
