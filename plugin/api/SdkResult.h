#pragma once
// Translation of device SDK failure codes into the library's result codes.

namespace ksplugs {

// A code that is not in the table answers 1013.
int MapSdkResult(int sdkCode);

}  // namespace ksplugs
