// The C functions of StreamConverter.h over the handle table.
#include "platform/streamconverter/StreamConverter.h"

#include <span>

#include "platform/streamconverter/ConverterTable.h"

using streamconverter::ConverterTable;

int Converter_Initialize(void) { return ConverterTable::instance().initialize(); }

int Converter_Release(void) { return ConverterTable::instance().release(); }

int Converter_CreateStream(int32_t* handle, int32_t mode, Converter_OutputCallback output, void* context) {
  if (handle != nullptr) *handle = -1;
  if (mode != 0) return CONVERTER_ERR_INVALID_PARAMETER;
  return ConverterTable::instance().create(handle, output, context);
}

int Converter_Input(int32_t handle, const uint8_t* frame, int32_t length) {
  int code = CONVERTER_OK;
  const auto stream = ConverterTable::instance().find(handle, &code);
  if (stream == nullptr) return code;
  if (frame == nullptr || length <= 0) return CONVERTER_ERR_INVALID_PARAMETER;
  return stream->input(std::span<const uint8_t>(frame, static_cast<size_t>(length)));
}

int Converter_Destroy(int32_t handle) {
  int code = CONVERTER_OK;
  const auto stream = ConverterTable::instance().take(handle, &code);
  if (stream == nullptr) return code;
  return stream->finish();
}

int Converter_GetStats(int32_t handle, Converter_Stats* stats) {
  if (stats == nullptr) return CONVERTER_ERR_INVALID_PARAMETER;
  int code = CONVERTER_OK;
  const auto stream = ConverterTable::instance().find(handle, &code);
  if (stream == nullptr) return code;
  *stats = stream->stats();
  return CONVERTER_OK;
}
