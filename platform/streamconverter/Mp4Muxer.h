#pragma once
// libavformat's MP4 muxer writing fragmented MP4 into a callback: the file
// header (ftyp and an empty moov) first, then one fragment (moof and mdat)
// per key frame, each handed on as soon as it is complete. Output never
// seeks, so a file cut at any point keeps its complete fragments playable.
#include <cstdint>
#include <span>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace streamconverter {

class Mp4Muxer {
 public:
  // Receives the file's bytes in order; kind as Converter_OutputCallback.
  // Answers false when the bytes could not be taken.
  using Output = bool (*)(void* context, int kind, int64_t position, const uint8_t* data, int length);

  enum Kind { kHeader = 1, kFragment = 2, kTrailer = 3 };

  struct Video {
    bool h265 = false;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> extradata;  // Annex B parameter sets
  };

  Mp4Muxer(Output output, void* context);
  ~Mp4Muxer();
  Mp4Muxer(const Mp4Muxer&) = delete;
  Mp4Muxer& operator=(const Mp4Muxer&) = delete;

  // Declares the tracks (audio when `audio`, the opened AAC encoder, is
  // given) and writes the file header. Answers a CONVERTER_* code.
  int open(const Video& video, const AVCodecContext* audio);
  // An Annex B access unit at dts (= pts) `ms`, lasting `durationMs`.
  int writeVideo(std::span<const uint8_t> accessUnit, int64_t ms, int64_t durationMs, bool key);
  // An AAC packet at `pts` samples (8 kHz), lasting `durationSamples`.
  int writeAudio(std::span<const uint8_t> packet, int64_t pts, int64_t durationSamples);
  // Writes the last fragment; the muxer takes nothing more afterwards.
  int finish();

  bool opened() const { return opened_; }
  bool hasAudio() const { return audioIndex_ >= 0; }
  int64_t bytesOut() const { return position_; }

 private:
  static int writeBytes(void* opaque, uint8_t* data, int length, int type, int64_t time);
  int write(AVPacket* packet, int streamIndex, int64_t ts, int64_t duration, int timeBaseDen, bool key);
  int failure(int rc);

  Output output_;
  void* context_;
  AVFormatContext* format_ = nullptr;
  AVIOContext* io_ = nullptr;
  AVPacket* packet_ = nullptr;
  int audioIndex_ = -1;
  bool opened_ = false;
  bool finishing_ = false;
  bool outputFailed_ = false;
  int failed_ = 0;  // the CONVERTER_* code that stopped the file, 0 while it goes on
  int64_t position_ = 0;
};

}  // namespace streamconverter
