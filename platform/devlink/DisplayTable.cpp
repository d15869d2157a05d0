#include "platform/devlink/DisplayTable.h"

#include "platform/devlink/NullAudioSink.h"

namespace devlink {

DisplayTable& DisplayTable::instance() {
  static DisplayTable table;
  return table;
}

std::shared_ptr<StreamRenderer> DisplayTable::find(int32_t handle) const {
  std::lock_guard lock(mutex_);
  auto it = renderers_.find(handle);
  return it == renderers_.end() ? nullptr : it->second;
}

std::shared_ptr<StreamRenderer> DisplayTable::insert(int32_t handle, std::shared_ptr<StreamRenderer> renderer) {
  std::lock_guard lock(mutex_);
  return renderers_.emplace(handle, std::move(renderer)).first->second;
}

std::shared_ptr<StreamRenderer> DisplayTable::remove(int32_t handle) {
  std::lock_guard lock(mutex_);
  auto it = renderers_.find(handle);
  if (it == renderers_.end()) return nullptr;
  auto renderer = std::move(it->second);
  renderers_.erase(it);
  return renderer;
}

std::vector<std::shared_ptr<StreamRenderer>> DisplayTable::removeAll() {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<StreamRenderer>> all;
  for (auto& [handle, renderer] : renderers_) all.push_back(std::move(renderer));
  renderers_.clear();
  return all;
}

void DisplayTable::setSinkFactory(SinkFactory factory) {
  std::lock_guard lock(mutex_);
  sinkFactory_ = std::move(factory);
}

std::shared_ptr<AudioSink> DisplayTable::makeSink() const {
  SinkFactory factory;
  {
    std::lock_guard lock(mutex_);
    factory = sinkFactory_;
  }
  if (factory) {
    if (auto sink = factory()) return sink;
  }
  return std::make_shared<NullAudioSink>();
}

}  // namespace devlink
