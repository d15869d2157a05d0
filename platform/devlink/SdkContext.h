#pragma once
// The SDK's process-wide state: whether it is started, the attributes, and
// the table of open handles.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/devlink/HandleObject.h"

namespace devlink {

class SdkContext {
 public:
  static SdkContext& instance();

  void startUp();
  // Closes every open handle, then marks the SDK stopped.
  void cleanUp();
  bool started() const { return started_.load(); }

  // Answers a DLSDK_ code.
  int setAttribute(int32_t id, int32_t value);
  int commandTimeoutMs() const { return commandTimeoutMs_.load(); }
  int receiveBuffer() const { return receiveBuffer_.load(); }
  int sendBuffer() const { return sendBuffer_.load(); }

  // Enters an object; answers its handle, or -1 when no handle is free.
  // Handles count up from 1 and skip every handle still open, so an open
  // handle is never handed out twice.
  int32_t add(std::shared_ptr<HandleObject> object);
  template <class T>
  std::shared_ptr<T> find(int32_t handle) const {
    return std::dynamic_pointer_cast<T>(findAny(handle));
  }
  // Takes the object out of the table if it is of type T.
  template <class T>
  std::shared_ptr<T> remove(int32_t handle) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    auto typed = std::dynamic_pointer_cast<T>(it->second);
    if (typed) objects_.erase(it);
    return typed;
  }
  size_t openHandles() const;
  // Lets a test reach the wrap-around of the handle counter.
  void setNextHandleForTest(int32_t next);

 private:
  std::shared_ptr<HandleObject> findAny(int32_t handle) const;

  std::atomic<bool> started_{false};
  std::atomic<int> commandTimeoutMs_{5000};
  std::atomic<int> receiveBuffer_{0};
  std::atomic<int> sendBuffer_{0};

  mutable std::mutex mutex_;
  std::map<int32_t, std::shared_ptr<HandleObject>> objects_;  // guarded by mutex_
  int32_t nextHandle_ = 1;                                    // guarded by mutex_
};

}  // namespace devlink
