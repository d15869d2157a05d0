#include "platform/devlink/SdkContext.h"

#include <limits>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"

namespace devlink {

SdkContext& SdkContext::instance() {
  static SdkContext context;
  return context;
}

void SdkContext::startUp() { started_ = true; }

void SdkContext::cleanUp() {
  std::map<int32_t, std::shared_ptr<HandleObject>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(objects_);
  }
  for (auto& [handle, object] : all) object->close();
  started_ = false;
}

int SdkContext::setAttribute(int32_t id, int32_t value) {
  constexpr int32_t kMinBuffer = 4 * 1024;
  constexpr int32_t kMaxBuffer = 64 * 1024 * 1024;
  switch (id) {
    case DLSDK_ATTR_COMMAND_TIMEOUT_MS:
      if (value < 100 || value > 600000) return DLSDK_ERR_INVALID_PARAMETER;
      commandTimeoutMs_ = value;
      return DLSDK_OK;
    case DLSDK_ATTR_RECEIVE_BUFFER:
    case DLSDK_ATTR_SEND_BUFFER:
      if (value < kMinBuffer || value > kMaxBuffer) return DLSDK_ERR_INVALID_PARAMETER;
      (id == DLSDK_ATTR_RECEIVE_BUFFER ? receiveBuffer_ : sendBuffer_) = value;
      return DLSDK_OK;
    default:
      return DLSDK_ERR_NOT_SUPPORTED;
  }
}

int32_t SdkContext::add(std::shared_ptr<HandleObject> object) {
  std::lock_guard lock(mutex_);
  // At most as many tries as there are open handles, plus one.
  for (size_t tries = 0; tries <= objects_.size(); ++tries) {
    const int32_t h = nextHandle_;
    nextHandle_ = nextHandle_ == std::numeric_limits<int32_t>::max() ? 1 : nextHandle_ + 1;
    if (objects_.count(h) == 0) {
      objects_.emplace(h, std::move(object));
      return h;
    }
  }
  return -1;
}

std::shared_ptr<HandleObject> SdkContext::findAny(int32_t handle) const {
  std::lock_guard lock(mutex_);
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second;
}

size_t SdkContext::openHandles() const {
  std::lock_guard lock(mutex_);
  return objects_.size();
}

void SdkContext::setNextHandleForTest(int32_t next) {
  std::lock_guard lock(mutex_);
  nextHandle_ = next;
}

}  // namespace devlink
