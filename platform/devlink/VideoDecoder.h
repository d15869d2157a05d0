#pragma once
// One stream's video decoder on libavcodec (H.264 or H.265). It starts at
// a key frame, and after any decoding error or corrupt picture it drops
// everything up to the next key frame, so a damaged stream shows a clean
// picture again as soon as one can be had. Pictures larger than a camera
// makes are refused before any buffer for them is allocated.
//
// Threads: used by one thread at a time (the stream's drawing thread).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace devlink {

class VideoDecoder {
 public:
  // What the caller attached to an access unit; handed back with the
  // picture it produced (frame threading may give it back later).
  struct Tag {
    int64_t timeMs = 0;     // frame time stamp, calendar milliseconds
    int64_t arrivedNs = 0;  // steady clock when the frame arrived
    bool preroll = false;   // decode only, do not show
  };
  using PictureFn = std::function<void(AVFrame* picture, const Tag& tag)>;

  VideoDecoder() = default;
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  // The largest picture a stream may declare: 8192 pixels a side and 36
  // million pixels; beyond that the decoder would allocate without bound.
  static constexpr int kMaxPictureSide = 8192;
  static constexpr int64_t kMaxPictureArea = 36'000'000;

  enum class Result { kDecoded, kWaitingForKey, kError, kUnsupported };

  // Decodes one Annex B access unit. `data` must be followed by
  // AV_INPUT_BUFFER_PADDING_SIZE readable bytes. `widthHint` x `heightHint`
  // (from a key frame's header, may be 0) chooses how many threads to use.
  // Every picture that comes out goes to `onPicture` before this returns.
  Result decode(const uint8_t* data, size_t size, int format, bool key, int widthHint, int heightHint,
                const Tag& tag, const PictureFn& onPicture);
  // Decode on the calling thread only, so that every picture comes out with
  // its own access unit. Takes effect when the decoder is next opened.
  void setSingleThreaded(bool single) { singleThreaded_ = single; }
  // Forgets the pictures in flight; the next access unit must be a key frame.
  void reset();

  uint64_t errors() const { return errors_; }
  int threads() const { return threads_; }

 private:
  bool open(int format, int widthHint, int heightHint);
  void close();
  bool drain(const PictureFn& onPicture);

  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* picture_ = nullptr;
  int format_ = 0;
  int threads_ = 0;
  bool needKey_ = true;
  bool singleThreaded_ = false;
  int64_t nextPts_ = 0;
  std::map<int64_t, Tag> tags_;  // by packet pts, for pictures still in the decoder
  uint64_t errors_ = 0;
};

}  // namespace devlink
