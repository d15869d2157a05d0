#include "tools/devsim/DeviceState.h"

#include <iostream>

namespace devsim {

DeviceState::DeviceState(DevSimOptions options)
    : options_(std::move(options)),
      sessions_(options_.maxSessions),
      loops_(options_),
      tone_(options_.audioFormat),
      forceCounters_(new std::atomic<uint32_t>[options_.channels]) {
  for (int i = 0; i < options_.channels; ++i) forceCounters_[i] = 0;
}

std::shared_ptr<const EncodedLoop> DeviceState::loopFor(int channel, int streamType) {
  std::string why;
  auto loop = loops_.loopFor(channel, streamType, &why);
  if (!loop && !why.empty()) log("encoding failed: " + why);
  return loop;
}

void DeviceState::requestKeyFrame(int channel) {
  forceCounters_[channel].fetch_add(1);
  keyFrameRequests_.fetch_add(1);
}

bool DeviceState::reserveStream() {
  int n = activeStreams_.load();
  while (n < options_.maxStreams) {
    if (activeStreams_.compare_exchange_weak(n, n + 1)) return true;
  }
  return false;
}

void DeviceState::log(const std::string& text) const {
  if (options_.verbose) std::cerr << "devsim: " << text << '\n';
}

}  // namespace devsim
