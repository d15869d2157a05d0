#include "platform/streamconverter/ConverterTable.h"

#include <limits>
#include <new>

namespace streamconverter {

ConverterTable& ConverterTable::instance() {
  static ConverterTable table;
  return table;
}

int ConverterTable::initialize() {
  std::lock_guard lock(mutex_);
  initialised_ = true;
  return CONVERTER_OK;
}

int ConverterTable::release() {
  std::vector<std::shared_ptr<ConverterStream>> open;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return CONVERTER_ERR_NOT_INITIALISED;
    // Called from an output callback, finishing that stream would wait on
    // itself.
    for (const auto& [handle, stream] : streams_) {
      if (stream->activeOnThisThread()) return CONVERTER_ERR_INVALID_PARAMETER;
    }
    initialised_ = false;
    for (auto& [handle, stream] : streams_) open.push_back(std::move(stream));
    streams_.clear();
  }
  for (auto& stream : open) stream->finish();
  return CONVERTER_OK;
}

int ConverterTable::create(int32_t* handle, Converter_OutputCallback output, void* context) {
  if (handle == nullptr) return CONVERTER_ERR_INVALID_PARAMETER;
  *handle = -1;
  if (output == nullptr) return CONVERTER_ERR_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  if (!initialised_) return CONVERTER_ERR_NOT_INITIALISED;
  if (streams_.size() >= kMaxStreams) return CONVERTER_ERR_NO_MEMORY;
  // The next free number from where the last one left off, wrapping before
  // the largest; there are far more numbers than open streams.
  int32_t id = nextHandle_;
  while (streams_.contains(id)) id = id == std::numeric_limits<int32_t>::max() - 1 ? 0 : id + 1;
  nextHandle_ = id == std::numeric_limits<int32_t>::max() - 1 ? 0 : id + 1;
  try {
    streams_.emplace(id, std::make_shared<ConverterStream>(id, output, context));
  } catch (const std::bad_alloc&) {
    return CONVERTER_ERR_NO_MEMORY;
  }
  *handle = id;
  return CONVERTER_OK;
}

std::shared_ptr<ConverterStream> ConverterTable::find(int32_t handle, int* code) {
  std::lock_guard lock(mutex_);
  if (!initialised_) {
    *code = CONVERTER_ERR_NOT_INITIALISED;
    return nullptr;
  }
  const auto it = streams_.find(handle);
  if (it == streams_.end()) {
    *code = CONVERTER_ERR_INVALID_HANDLE;
    return nullptr;
  }
  *code = CONVERTER_OK;
  return it->second;
}

std::shared_ptr<ConverterStream> ConverterTable::take(int32_t handle, int* code) {
  std::lock_guard lock(mutex_);
  if (!initialised_) {
    *code = CONVERTER_ERR_NOT_INITIALISED;
    return nullptr;
  }
  const auto it = streams_.find(handle);
  if (it == streams_.end()) {
    *code = CONVERTER_ERR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second->activeOnThisThread()) {
    // Destroy from the stream's own output callback: the stream is busy.
    *code = CONVERTER_ERR_INVALID_PARAMETER;
    return nullptr;
  }
  auto stream = std::move(it->second);
  streams_.erase(it);
  *code = CONVERTER_OK;
  return stream;
}

}  // namespace streamconverter
