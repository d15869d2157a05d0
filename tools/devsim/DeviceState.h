#pragma once
// What every connection of the simulated device shares: its settings, the
// session table, the encoded picture loops, the key-frame requests per
// channel, the stream slots, the sound, and the counters that tests read.
//
// Threads: every connection thread uses one DeviceState at once. The
// settings and the sound are read-only; the session table and the loop
// cache lock themselves; the kept talk audio has its own lock; everything
// else here is atomic.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/devlink/LoginProof.h"
#include "platform/devlink/WireFormat.h"
#include "tools/devsim/AudioTone.h"
#include "tools/devsim/DevSimOptions.h"
#include "tools/devsim/EncodedLoop.h"
#include "tools/devsim/LoopCache.h"
#include "tools/devsim/SessionTable.h"

namespace devsim {

class DeviceState {
 public:
  // A client must say what it wants this soon after connecting.
  static constexpr int kHelloTimeoutMs = 10000;

  explicit DeviceState(DevSimOptions options);
  DeviceState(const DeviceState&) = delete;
  DeviceState& operator=(const DeviceState&) = delete;

  // Work factor of the key derivation the accounts' keys were made with.
  static constexpr uint32_t kKeyIterations = 10000;
  // What the device keeps to check a login to an account: a salt of its own
  // and the key derived from the password with it (LoginProof).
  struct AccountKey {
    std::array<uint8_t, devlink::wire::kSaltSize> salt{};
    devlink::LoginKey key;
  };

  const DevSimOptions& options() const { return options_; }
  // The key of options().accounts[index].
  const AccountKey& accountKey(size_t index) const { return accountKeys_[index]; }
  SessionTable& sessions() { return sessions_; }
  const SessionTable& sessions() const { return sessions_; }
  const AudioTone& tone() const { return tone_; }

  // The encoded loop of a channel's stream kind (see LoopCache); a failed
  // encoding is logged.
  std::shared_ptr<const EncodedLoop> loopFor(int channel, int streamType);

  // Key-frame requests: each bumps the channel's counter, which live
  // streams compare with the value they last saw. `channel` must be valid.
  void requestKeyFrame(int channel);
  uint32_t keyFrameCounter(int channel) const { return forceCounters_[channel].load(); }

  // A stream slot, while fewer than the maximum are taken.
  bool reserveStream();
  void releaseStream() { activeStreams_.fetch_sub(1); }

  // The talk data received, as it came: counted, and the latest
  // kKeptTalkBytes kept with the codec of the channel that sent them.
  static constexpr size_t kKeptTalkBytes = 4 * 8000;  // 4 s of G.711
  void takeTalk(uint32_t codec, const std::vector<uint8_t>& bytes);
  void countFrameSent() { framesSent_.fetch_add(1); }
  // A video frame among them (counted as well by countFrameSent).
  void countPictureSent() { picturesSent_.fetch_add(1); }

  uint64_t talkBytes() const { return talkBytes_.load(); }
  // The kept talk bytes and their codec (0 before any talk).
  std::vector<uint8_t> keptTalk(uint32_t* codec) const;
  uint64_t framesSent() const { return framesSent_.load(); }
  uint64_t picturesSent() const { return picturesSent_.load(); }
  uint64_t keyFrameRequests() const { return keyFrameRequests_.load(); }
  int streamCount() const { return activeStreams_.load(); }

  // One line to stderr when the device runs verbose.
  void log(const std::string& text) const;

 private:
  const DevSimOptions options_;
  std::vector<AccountKey> accountKeys_;  // one per account, made once by the constructor
  SessionTable sessions_;
  LoopCache loops_;
  const AudioTone tone_;
  // One counter per channel; fixed size, so lock-free.
  std::unique_ptr<std::atomic<uint32_t>[]> forceCounters_;
  std::atomic<int> activeStreams_{0};
  std::atomic<uint64_t> talkBytes_{0};
  mutable std::mutex talkMutex_;
  std::deque<uint8_t> keptTalk_;  // guarded by talkMutex_
  uint32_t keptTalkCodec_ = 0;    // guarded by talkMutex_
  std::atomic<uint64_t> framesSent_{0};
  std::atomic<uint64_t> picturesSent_{0};
  std::atomic<uint64_t> keyFrameRequests_{0};
};

}  // namespace devsim
