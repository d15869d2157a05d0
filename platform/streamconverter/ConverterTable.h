#pragma once
// The open conversions by handle. The table's lock is held only to look a
// stream up, add or take it out; the stream's own work runs outside it, so
// calls on different streams never wait for each other. Callers get a
// shared_ptr: a stream taken out of the table by Destroy or Release lives on
// until a call still running on it returns.
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/streamconverter/ConverterStream.h"

namespace streamconverter {

class ConverterTable {
 public:
  // More open streams than this are refused (CONVERTER_ERR_NO_MEMORY).
  static constexpr size_t kMaxStreams = 4096;

  static ConverterTable& instance();

  int initialize();
  // Takes every stream out and finishes each, outside the lock.
  int release();
  int create(int32_t* handle, Converter_OutputCallback output, void* context);
  // The stream of `handle`, or null with the code in *code.
  std::shared_ptr<ConverterStream> find(int32_t handle, int* code);
  // As find, and takes it out of the table.
  std::shared_ptr<ConverterStream> take(int32_t handle, int* code);

 private:
  std::mutex mutex_;
  bool initialised_ = false;                                              // guarded by mutex_
  int32_t nextHandle_ = 0;                                                // guarded by mutex_
  std::unordered_map<int32_t, std::shared_ptr<ConverterStream>> streams_;  // guarded by mutex_
};

}  // namespace streamconverter
