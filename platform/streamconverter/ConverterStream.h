#pragma once
// One conversion: DevLink frames in, fragmented MP4 bytes out through the
// stream's output callback.
//
// The first key frame that carries parseable parameter sets starts the
// file; everything before it is dropped. That key frame is held until the
// next video frame arrives (or audio 1 s later in frame time, or the end),
// so that the file declares an audio track exactly when sound came with
// it. Video is passed through as it is; sound is re-encoded to AAC.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/streamconverter/AacTranscoder.h"
#include "platform/streamconverter/FrameClock.h"
#include "platform/streamconverter/Mp4Muxer.h"
#include "platform/streamconverter/StreamConverter.h"

namespace devlink::wire {
struct FrameHeader;
}

namespace streamconverter {

class ConverterStream {
 public:
  // The most G.711 bytes one audio frame may carry (two seconds).
  static constexpr size_t kMaxAudioBytes = static_cast<size_t>(AacTranscoder::kMaxSamplesAtOnce);
  // How long the first key frame waits for the next video frame, in frame time.
  static constexpr int64_t kHoldMs = 1000;

  ConverterStream(int32_t handle, Converter_OutputCallback output, void* context);
  ~ConverterStream();
  ConverterStream(const ConverterStream&) = delete;
  ConverterStream& operator=(const ConverterStream&) = delete;

  // One whole DevLink frame; a CONVERTER_* code.
  int input(std::span<const uint8_t> frame);
  // Writes what is held back and the end of the file. Later calls answer
  // the stream's failure code, or CONVERTER_ERR_INVALID_HANDLE.
  int finish();
  // Any thread, any time (the counters are atomic).
  Converter_Stats stats() const;
  // True while this thread is inside a call of this stream, that is, inside
  // its output callback: such a call must not come back into the stream.
  bool activeOnThisThread() const;

 private:
  enum class State { kWaitingForKeyFrame, kHolding, kWriting, kFailed, kFinished };

  int video(const devlink::wire::FrameHeader& header, std::span<const uint8_t> payload, int64_t sourceMs);
  int audio(const devlink::wire::FrameHeader& header, std::span<const uint8_t> payload, int64_t sourceMs);
  int startFile(bool withAudio);
  int writeAudioPackets();
  int fail(int code);
  int drop(int code);
  static bool deliver(void* self, int kind, int64_t position, const uint8_t* data, int length);

  const int32_t handle_;
  const Converter_OutputCallback output_;
  void* const context_;

  // The stream's calls are serialised by the caller; mutex_ also keeps a
  // careless caller's overlapping calls from racing on the fields below.
  std::mutex mutex_;
  State state_ = State::kWaitingForKeyFrame;  // guarded by mutex_
  int failure_ = 0;                           // guarded by mutex_
  uint8_t videoFormat_ = 0;                   // guarded by mutex_
  FrameClock clock_;                          // guarded by mutex_
  int64_t lastVideoMs_ = -1;                  // guarded by mutex_
  int64_t lastVideoSourceMs_ = 0;             // guarded by mutex_
  bool frameRateKnown_ = false;               // guarded by mutex_
  Mp4Muxer::Video videoTrack_;                // guarded by mutex_
  std::vector<uint8_t> heldKeyFrame_;         // guarded by mutex_
  int64_t heldKeyMs_ = 0;                     // guarded by mutex_
  std::unique_ptr<AacTranscoder> aac_;        // guarded by mutex_
  bool aacTried_ = false;                     // guarded by mutex_
  bool audioStarted_ = false;                 // guarded by mutex_
  int64_t audioOriginSamples_ = 0;            // guarded by mutex_; file time of the first sample
  std::vector<AacPacket> aacPackets_;         // guarded by mutex_; encoded, not yet written
  std::unique_ptr<Mp4Muxer> muxer_;           // guarded by mutex_

  std::atomic<int64_t> videoFrames_{0};
  std::atomic<int64_t> audioFrames_{0};
  std::atomic<int64_t> droppedFrames_{0};
  std::atomic<int64_t> bytesOut_{0};
  std::atomic<int32_t> hasAudioTrack_{0};
  std::atomic<int32_t> videoCodec_{0};
};

}  // namespace streamconverter
