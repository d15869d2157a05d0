#include "platform/devlink/VideoDecoder.h"

#include <algorithm>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include "platform/devlink/DevLinkSdk.h"

namespace devlink {

namespace {

// Up to 1920 x 1088 a picture decodes on the calling thread alone: live
// streams run on the shared draw pool, whose threads already keep every
// core busy with other streams, so threads of the decoder's own would only
// add switches (and frame threads a frame of delay each). Beyond that one
// thread may not keep up with one stream, and the decoder gets frame and
// slice threads up to the core count.
constexpr int kFrameThreadedArea = 1920 * 1088;
// A decoder that keeps many packets without giving pictures back is broken;
// the tag table must not grow with it.
constexpr size_t kMaxTags = 64;

}  // namespace

VideoDecoder::~VideoDecoder() { close(); }

void VideoDecoder::close() {
  if (context_) avcodec_free_context(&context_);
  if (packet_) av_packet_free(&packet_);
  if (picture_) av_frame_free(&picture_);
  format_ = 0;
  threads_ = 0;
  tags_.clear();
}

bool VideoDecoder::open(int format, int widthHint, int heightHint) {
  close();
  const AVCodec* codec = avcodec_find_decoder(format == DLSDK_FORMAT_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
  if (!codec) return false;
  context_ = avcodec_alloc_context3(codec);
  packet_ = av_packet_alloc();
  picture_ = av_frame_alloc();
  if (!context_ || !packet_ || !picture_) {
    close();
    return false;
  }
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int64_t area = static_cast<int64_t>(widthHint) * heightHint;
  threads_ = area > kFrameThreadedArea && !singleThreaded_ ? std::min(cores, 4) : 1;
  context_->thread_count = threads_;
  context_->thread_type = threads_ == 1 ? 0 : FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (threads_ == 1) context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  // The decoder sizes its buffers from the stream's parameter sets: a
  // device that declares a giant picture is refused before they exist.
  context_->max_pixels = kMaxPictureArea;
  if (avcodec_open2(context_, codec, nullptr) < 0) {
    close();
    return false;
  }
  format_ = format;
  return true;
}

void VideoDecoder::reset() {
  if (context_) avcodec_flush_buffers(context_);
  tags_.clear();
  needKey_ = true;
}

VideoDecoder::Result VideoDecoder::decode(const uint8_t* data, size_t size, int format, bool key, int widthHint,
                                          int heightHint, const Tag& tag, const PictureFn& onPicture) {
  if (format != DLSDK_FORMAT_H264 && format != DLSDK_FORMAT_H265) return Result::kUnsupported;
  if (size == 0 || size > static_cast<size_t>(INT32_MAX)) return Result::kError;
  // A new codec (a switched stream) must start at a key frame too.
  if (format != format_) needKey_ = true;
  if (needKey_ && !key) return Result::kWaitingForKey;
  if (format != format_ || !context_) {
    if (!open(format, widthHint, heightHint)) {
      ++errors_;
      needKey_ = true;
      return Result::kUnsupported;
    }
  }
  needKey_ = false;
  const int64_t pts = nextPts_++;
  tags_[pts] = tag;
  while (tags_.size() > kMaxTags) tags_.erase(tags_.begin());
  packet_->data = const_cast<uint8_t*>(data);
  packet_->size = static_cast<int>(size);
  packet_->pts = pts;
  packet_->dts = pts;
  packet_->flags = key ? AV_PKT_FLAG_KEY : 0;
  int rc = avcodec_send_packet(context_, packet_);
  if (rc == AVERROR(EAGAIN)) {
    // The decoder holds finished pictures; take them and try once more.
    if (!drain(onPicture)) return Result::kError;
    rc = avcodec_send_packet(context_, packet_);
  }
  packet_->data = nullptr;
  packet_->size = 0;
  if (context_->width > kMaxPictureSide || context_->height > kMaxPictureSide) {
    // A picture wider or taller than any camera's: the stream is refused
    // until a key frame declares a size within bounds.
    ++errors_;
    close();
    needKey_ = true;
    return Result::kUnsupported;
  }
  if (rc < 0) {
    ++errors_;
    reset();
    return Result::kError;
  }
  return drain(onPicture) ? Result::kDecoded : Result::kError;
}

bool VideoDecoder::drain(const PictureFn& onPicture) {
  for (;;) {
    const int rc = avcodec_receive_frame(context_, picture_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) {
      ++errors_;
      reset();
      return false;
    }
    Tag tag;
    const int64_t pts =
        picture_->best_effort_timestamp != AV_NOPTS_VALUE ? picture_->best_effort_timestamp : picture_->pts;
    if (auto it = tags_.find(pts); it != tags_.end()) {
      tag = it->second;
      tags_.erase(tags_.begin(), std::next(it));
    }
    const bool corrupt = (picture_->flags & AV_FRAME_FLAG_CORRUPT) != 0 || picture_->decode_error_flags != 0;
    if (corrupt || picture_->width <= 0 || picture_->height <= 0) {
      // Concealed pictures are not shown; the next key frame starts clean.
      av_frame_unref(picture_);
      ++errors_;
      reset();
      return false;
    }
    onPicture(picture_, tag);
    av_frame_unref(picture_);
  }
}

}  // namespace devlink
