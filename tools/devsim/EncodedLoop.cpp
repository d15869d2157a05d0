#include "tools/devsim/EncodedLoop.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
}

#include "platform/devlink/WireFormat.h"
#include "tools/devsim/ScenePicture.h"
#include "tools/devsim/TestPattern.h"

namespace devsim {
namespace {

// Owners of the libavcodec objects so that every exit path frees them.
struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

bool drain(AVCodecContext* ctx, AVPacket* pkt, EncodedLoop& loop) {
  for (;;) {
    const int rc = avcodec_receive_packet(ctx, pkt);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    loop.frames.emplace_back(pkt->data, pkt->data + pkt->size);
    av_packet_unref(pkt);
  }
}

}  // namespace

std::shared_ptr<const EncodedLoop> EncodedLoop::encode(int width, int height, int channel, bool h265, int seconds,
                                                       std::string* error, Content content) {
  const bool scene = content == Content::kScene;
  auto fail = [error](const char* why) -> std::shared_ptr<const EncodedLoop> {
    if (error) *error = why;
    return nullptr;
  };
  const AVCodec* codec = avcodec_find_encoder_by_name(h265 ? "libx265" : "libx264");
  if (!codec) return fail(h265 ? "libx265 encoder not available" : "libx264 encoder not available");
  std::unique_ptr<AVCodecContext, CodecContextDeleter> ctx(avcodec_alloc_context3(codec));
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
  if (!ctx || !frame || !pkt) return fail("out of memory");
  ctx->width = width;
  ctx->height = height;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, kFrameRate};
  ctx->framerate = AVRational{kFrameRate, 1};
  ctx->gop_size = kGop;
  ctx->max_b_frames = 0;
  ctx->thread_count = 1;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "tune", "zerolatency", 0);
  if (scene) {
    // A camera's stream: a bit rate in proportion to the picture, constant
    // over each second, and the coding tools cameras use.
    const int64_t rate = std::clamp<int64_t>(int64_t{1000000} * width * height / (704 * 576), 200000, 8000000);
    ctx->bit_rate = rate;
    ctx->rc_max_rate = rate;
    ctx->rc_buffer_size = static_cast<int>(rate);
    av_dict_set(&opts, "preset", "veryfast", 0);
    if (!h265) av_dict_set(&opts, "profile", "main", 0);
  } else {
    av_dict_set(&opts, "preset", "ultrafast", 0);
    av_dict_set(&opts, "crf", "30", 0);
  }
  // Every key frame repeats the parameter sets, so a client that joins at
  // any key frame can decode and learn the picture size.
  if (h265) {
    av_dict_set(&opts, "x265-params",
                "keyint=25:min-keyint=25:scenecut=0:bframes=0:repeat-headers=1:log-level=none:pools=none:"
                "frame-threads=1",
                0);
  } else {
    av_dict_set(&opts, "x264-params", "keyint=25:min-keyint=25:scenecut=0:bframes=0:repeat-headers=1", 0);
  }
  const int rc = avcodec_open2(ctx.get(), codec, &opts);
  av_dict_free(&opts);
  if (rc < 0) return fail("cannot open the encoder");

  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return fail("out of memory");

  auto loop = std::make_shared<EncodedLoop>();
  loop->width = width;
  loop->height = height;
  loop->format = h265 ? devlink::wire::kH265 : devlink::wire::kH264;
  const int count = seconds * kFrameRate;
  loop->frames.reserve(count);
  const TestPattern pattern(width, height, channel);
  std::unique_ptr<ScenePicture> picture;
  if (scene) picture = std::make_unique<ScenePicture>(width, height, channel);
  for (int i = 0; i < count; ++i) {
    if (av_frame_make_writable(frame.get()) < 0) return fail("out of memory");
    if (picture) {
      picture->draw(i, frame->data[0], frame->linesize[0], frame->data[1], frame->linesize[1], frame->data[2],
                    frame->linesize[2]);
    } else {
      pattern.draw(i, frame->data[0], frame->linesize[0], frame->data[1], frame->linesize[1], frame->data[2],
                   frame->linesize[2]);
    }
    frame->pts = i;
    frame->pict_type = isKey(i) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(ctx.get(), frame.get()) < 0) return fail("encoding failed");
    if (!drain(ctx.get(), pkt.get(), *loop)) return fail("encoding failed");
  }
  if (avcodec_send_frame(ctx.get(), nullptr) < 0 || !drain(ctx.get(), pkt.get(), *loop)) {
    return fail("encoding failed");
  }
  if (loop->size() != count) return fail("the encoder did not give one access unit per picture");
  return loop;
}

}  // namespace devsim
