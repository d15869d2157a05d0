// The converter table backed by the StreamConverter library; built only when
// the library is part of the build.
#include <mutex>

#include "plugin/download/Mp4Converter.h"

namespace ksplugs {

namespace {

int create(int32_t* handle, Converter_OutputCallback output, void* context) {
  // Initialising twice does nothing; the library stays up for the process.
  static std::once_flag initialised;
  std::call_once(initialised, [] { Converter_Initialize(); });
  return Converter_CreateStream(handle, 0, output, context);
}

const Mp4Converter kLibrary{&create, &Converter_Input, &Converter_Destroy};

}  // namespace

const Mp4Converter* mp4Converter() { return &kLibrary; }

}  // namespace ksplugs
