#pragma once
// The MP4 converter as a download task sees it: open a stream that hands its
// file bytes to a callback, feed it whole DevLink frames, destroy it (which
// writes the trailer). Tests put a table of their own in its place.
#include <cstdint>

#include "platform/streamconverter/StreamConverter.h"

namespace ksplugs {

struct Mp4Converter {
  // Opens a stream; *handle is -1 on failure. Answers a CONVERTER_ code.
  int (*create)(int32_t* handle, Converter_OutputCallback output, void* context);
  // One whole frame; CONVERTER_ERR_BAD_FRAME skips it and the stream goes on.
  int (*input)(int32_t handle, const uint8_t* frame, int32_t length);
  // Flushes, writes the trailer through the callback and closes the stream.
  int (*destroy)(int32_t handle);
};

// The StreamConverter library's table.
const Mp4Converter* mp4Converter();

}  // namespace ksplugs
