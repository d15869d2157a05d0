#pragma once
// The answer to one record query, handed out one item per call.
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/devlink/HandleObject.h"
#include "platform/devlink/WireFormat.h"

namespace devlink {

class RecordQuery : public HandleObject {
 public:
  RecordQuery(int channel, std::vector<wire::RecordItem> items) : channel_(channel), items_(std::move(items)) {}
  int channel() const { return channel_; }
  std::optional<wire::RecordItem> next() {
    std::lock_guard lock(mutex_);
    if (next_ >= items_.size()) return std::nullopt;
    return items_[next_++];
  }
  void close() override {}

 private:
  const int channel_;
  const std::vector<wire::RecordItem> items_;
  std::mutex mutex_;
  size_t next_ = 0;  // guarded by mutex_
};

}  // namespace devlink
