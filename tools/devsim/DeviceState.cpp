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
  accountKeys_.resize(options_.accounts.size());
  for (size_t i = 0; i < accountKeys_.size(); ++i) {
    AccountKey& k = accountKeys_[i];
    // Without randomness the salt stays zero: logins still work, only a
    // guess made for one device then fits others as well.
    devlink::randomBytes(k.salt);
    devlink::LoginKey::derive(options_.accounts[i].password, k.salt, kKeyIterations, k.key);
  }
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

void DeviceState::takeTalk(uint32_t codec, const std::vector<uint8_t>& bytes) {
  talkBytes_.fetch_add(bytes.size());
  std::lock_guard lock(talkMutex_);
  if (codec != keptTalkCodec_) keptTalk_.clear();
  keptTalkCodec_ = codec;
  keptTalk_.insert(keptTalk_.end(), bytes.begin(), bytes.end());
  if (keptTalk_.size() > kKeptTalkBytes) {
    keptTalk_.erase(keptTalk_.begin(),
                    keptTalk_.begin() + static_cast<std::ptrdiff_t>(keptTalk_.size() - kKeptTalkBytes));
  }
}

std::vector<uint8_t> DeviceState::keptTalk(uint32_t* codec) const {
  std::lock_guard lock(talkMutex_);
  if (codec != nullptr) *codec = keptTalkCodec_;
  return std::vector<uint8_t>(keptTalk_.begin(), keptTalk_.end());
}

void DeviceState::log(const std::string& text) const {
  if (options_.verbose) std::cerr << "devsim: " << text << '\n';
}

}  // namespace devsim
