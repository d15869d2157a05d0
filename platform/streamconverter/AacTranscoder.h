#pragma once
// G.711 (μ-law, A-law) to AAC-LC, 8 kHz mono, with libavcodec's own AAC
// encoder. The MP4 muxer does not take G.711, so the device's sound is
// re-encoded; samples are gathered into the encoder's 1024-sample frames and
// time-stamped by counting them.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace streamconverter {

struct AacPacket {
  std::vector<uint8_t> data;
  int64_t pts = 0;  // in samples from the first sample pushed
};

class AacTranscoder {
 public:
  static constexpr int kSampleRate = 8000;
  // The longest stretch of silence pad() adds at once, and the most G.711
  // bytes one push takes: two seconds.
  static constexpr int64_t kMaxSamplesAtOnce = 2 * kSampleRate;

  // Opens the encoder: "aac", or the one KESTROVA_CONVERTER_AAC_ENCODER
  // names (tests name a missing one to see the file go video-only). Null
  // when it cannot be opened.
  static std::unique_ptr<AacTranscoder> open();
  ~AacTranscoder();
  AacTranscoder(const AacTranscoder&) = delete;
  AacTranscoder& operator=(const AacTranscoder&) = delete;

  // The opened encoder, whose parameters (and AudioSpecificConfig) describe
  // the audio track.
  const AVCodecContext* context() const { return ctx_; }

  // Decodes G.711 bytes (`aLaw` or μ-law) and encodes every whole frame
  // they complete; finished packets are appended to `out`. False when the
  // encoder fails or more than kMaxSamplesAtOnce bytes are given.
  bool push(std::span<const uint8_t> g711, bool aLaw, std::vector<AacPacket>& out);
  // Adds `count` samples of silence (at most kMaxSamplesAtOnce).
  bool pad(int64_t count, std::vector<AacPacket>& out);
  // Encodes what is left (a last, partial frame is dropped, so the sound
  // never outlasts the pictures) and drains the encoder.
  bool flush(std::vector<AacPacket>& out);

  // Samples in each AAC frame.
  int frameSize() const { return frameSize_; }
  // Samples taken so far, silence included.
  int64_t samples() const { return samples_; }

 private:
  AacTranscoder() = default;
  bool appendSamples(const int16_t* pcm, int64_t count, std::vector<AacPacket>& out);
  bool encodeFrame(std::vector<AacPacket>& out);
  bool drain(std::vector<AacPacket>& out);

  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int frameSize_ = 1024;
  std::vector<float> pending_;  // samples of the frame being filled, < frameSize_
  std::vector<int16_t> decoded_;
  int64_t samples_ = 0;
  int64_t framePts_ = 0;  // pts of the next frame sent to the encoder
};

}  // namespace streamconverter
