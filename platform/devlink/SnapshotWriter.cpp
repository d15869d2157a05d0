#include "platform/devlink/SnapshotWriter.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "platform/devlink/DevLinkSdk.h"

namespace devlink {

namespace {

bool endsWith(const std::string& text, const char* suffix) {
  const size_t n = std::char_traits<char>::length(suffix);
  return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, suffix) == 0;
}

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Converts the picture into the encoder's pixel format at the same size.
std::unique_ptr<AVFrame, FrameFree> convert(const AVFrame* picture, AVPixelFormat format) {
  std::unique_ptr<AVFrame, FrameFree> out(av_frame_alloc());
  if (!out) return nullptr;
  out->format = format;
  out->width = picture->width;
  out->height = picture->height;
  if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
  SwsContext* sws = sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                                   picture->width, picture->height, format, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws) return nullptr;
  const int rows = sws_scale(sws, picture->data, picture->linesize, 0, picture->height, out->data, out->linesize);
  sws_freeContext(sws);
  if (rows <= 0) return nullptr;
  return out;
}

bool encode(const AVFrame* picture, SnapshotWriter::Format format, std::vector<uint8_t>& bytes) {
  const bool bmp = format == SnapshotWriter::Format::kBmp;
  const AVCodec* codec = avcodec_find_encoder(bmp ? AV_CODEC_ID_BMP : AV_CODEC_ID_MJPEG);
  if (!codec) return false;
  const AVPixelFormat pixels = bmp ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUVJ420P;
  std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(codec));
  if (!ctx) return false;
  ctx->width = picture->width;
  ctx->height = picture->height;
  ctx->pix_fmt = pixels;
  ctx->time_base = AVRational{1, 25};
  if (!bmp) {
    // A fixed, good quality: quantiser 3 of 31.
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 3;
  }
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;
  auto converted = convert(picture, pixels);
  if (!converted) return false;
  if (!bmp) converted->quality = ctx->global_quality;
  converted->pts = 0;
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!packet || avcodec_send_frame(ctx.get(), converted.get()) < 0 || avcodec_send_frame(ctx.get(), nullptr) < 0) {
    return false;
  }
  if (avcodec_receive_packet(ctx.get(), packet.get()) < 0 || packet->size <= 0) return false;
  bytes.assign(packet->data, packet->data + packet->size);
  return true;
}

}  // namespace

SnapshotWriter::Format SnapshotWriter::formatFor(const std::string& path) {
  return endsWith(path, ".bmp") ? Format::kBmp : Format::kJpeg;
}

int SnapshotWriter::write(const AVFrame* picture, const std::string& path) {
  if (!picture || picture->width <= 0 || picture->height <= 0) return DLSDK_ERR_NO_PICTURE;
  std::vector<uint8_t> bytes;
  if (!encode(picture, formatFor(path), bytes)) return DLSDK_ERR_FAILED;
  // Pictures are private (0600), and a link in the file's place is never
  // followed: the picture goes into a file of the caller's folder or nowhere.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return DLSDK_ERR_FILE;
  FILE* file = ::fdopen(fd, "wb");
  if (!file) {
    ::close(fd);
    return DLSDK_ERR_FILE;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(path.c_str());
    return DLSDK_ERR_FILE;
  }
  return DLSDK_OK;
}

}  // namespace devlink
