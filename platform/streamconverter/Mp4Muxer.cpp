#include "platform/streamconverter/Mp4Muxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <cstring>

#include "platform/streamconverter/StreamConverter.h"

namespace streamconverter {
namespace {

// The muxer writes through a buffer of this size; each fragment is pushed
// out of it as soon as the fragment is complete.
constexpr int kIoBufferSize = 64 * 1024;

}  // namespace

Mp4Muxer::Mp4Muxer(Output output, void* context) : output_(output), context_(context) {}

Mp4Muxer::~Mp4Muxer() {
  if (format_ != nullptr) avformat_free_context(format_);
  if (io_ != nullptr) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  av_packet_free(&packet_);
}

int Mp4Muxer::writeBytes(void* opaque, uint8_t* data, int length, int type, int64_t) {
  auto* self = static_cast<Mp4Muxer*>(opaque);
  if (self->outputFailed_) return AVERROR(EIO);
  int kind = kFragment;
  if (self->finishing_) {
    kind = kTrailer;
  } else if (type == AVIO_DATA_MARKER_HEADER) {
    kind = kHeader;
  }
  if (!self->output_(self->context_, kind, self->position_, data, length)) {
    self->outputFailed_ = true;
    return AVERROR(EIO);
  }
  self->position_ += length;
  return length;
}

int Mp4Muxer::failure(int rc) {
  if (failed_ == 0) failed_ = outputFailed_ ? CONVERTER_ERR_OUTPUT : rc;
  return failed_;
}

int Mp4Muxer::open(const Video& video, const AVCodecContext* audio) {
  if (opened_ || failed_ != 0) return failed_ != 0 ? failed_ : CONVERTER_ERR_MUXER;
  packet_ = av_packet_alloc();
  if (packet_ == nullptr) return failure(CONVERTER_ERR_NO_MEMORY);
  if (avformat_alloc_output_context2(&format_, nullptr, "mp4", nullptr) < 0 || format_ == nullptr) {
    return failure(CONVERTER_ERR_MUXER);
  }
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  if (buffer == nullptr) return failure(CONVERTER_ERR_NO_MEMORY);
  io_ = avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, nullptr, nullptr);
  if (io_ == nullptr) {
    av_free(buffer);
    return failure(CONVERTER_ERR_NO_MEMORY);
  }
  // The typed callback tells the file header apart from the fragments.
  io_->write_data_type = [](void* opaque, uint8_t* data, int length, AVIODataMarkerType type, int64_t time) {
    return writeBytes(opaque, data, length, static_cast<int>(type), time);
  };
  io_->seekable = 0;
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;

  AVStream* v = avformat_new_stream(format_, nullptr);
  if (v == nullptr) return failure(CONVERTER_ERR_NO_MEMORY);
  v->time_base = AVRational{1, 1000};
  AVCodecParameters* vp = v->codecpar;
  vp->codec_type = AVMEDIA_TYPE_VIDEO;
  vp->codec_id = video.h265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
  vp->width = video.width;
  vp->height = video.height;
  vp->extradata = static_cast<uint8_t*>(av_mallocz(video.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (vp->extradata == nullptr) return failure(CONVERTER_ERR_NO_MEMORY);
  std::memcpy(vp->extradata, video.extradata.data(), video.extradata.size());
  vp->extradata_size = static_cast<int>(video.extradata.size());

  if (audio != nullptr) {
    AVStream* a = avformat_new_stream(format_, nullptr);
    if (a == nullptr) return failure(CONVERTER_ERR_NO_MEMORY);
    if (avcodec_parameters_from_context(a->codecpar, audio) < 0) return failure(CONVERTER_ERR_NO_MEMORY);
    a->time_base = AVRational{1, audio->sample_rate};
    audioIndex_ = a->index;
  }

  // Fragmented, as the output cannot seek: an empty moov up front, a new
  // fragment at every key frame, sample offsets counted from each moof. The
  // index at the end of a fragmented file (mfra) is left out: writing it
  // seeks back, which only works while it still fits the write buffer.
  // Readers find the fragments by their moof boxes.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof+skip_trailer", 0);
  const int rc = avformat_write_header(format_, &options);
  av_dict_free(&options);
  if (rc < 0) return failure(CONVERTER_ERR_MUXER);
  avio_flush(io_);
  if (outputFailed_ || io_->error < 0) return failure(CONVERTER_ERR_MUXER);
  opened_ = true;
  return CONVERTER_OK;
}

int Mp4Muxer::write(AVPacket* p, int streamIndex, int64_t ts, int64_t duration, int timeBaseDen, bool key) {
  if (failed_ != 0) return failed_;
  if (!opened_) return CONVERTER_ERR_MUXER;
  p->stream_index = streamIndex;
  p->pts = ts;
  p->dts = ts;
  p->duration = duration;
  p->flags = key ? AV_PKT_FLAG_KEY : 0;
  av_packet_rescale_ts(p, AVRational{1, timeBaseDen}, format_->streams[streamIndex]->time_base);
  const int rc = av_write_frame(format_, p);
  // A fragment the muxer finished goes out now rather than when the buffer
  // fills, so the bytes delivered always end with a complete fragment.
  if (rc >= 0) avio_flush(io_);
  if (rc < 0 || outputFailed_ || io_->error < 0) return failure(CONVERTER_ERR_MUXER);
  return CONVERTER_OK;
}

int Mp4Muxer::writeVideo(std::span<const uint8_t> au, int64_t ms, int64_t durationMs, bool key) {
  if (au.empty() || au.size() > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return CONVERTER_ERR_BAD_FRAME;
  // The muxer reads the bytes during the call and keeps none of them.
  av_packet_unref(packet_);
  packet_->data = const_cast<uint8_t*>(au.data());
  packet_->size = static_cast<int>(au.size());
  const int rc = write(packet_, 0, ms, durationMs, 1000, key);
  packet_->data = nullptr;
  packet_->size = 0;
  return rc;
}

int Mp4Muxer::writeAudio(std::span<const uint8_t> data, int64_t pts, int64_t durationSamples) {
  if (audioIndex_ < 0 || data.empty() || data.size() > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) {
    return CONVERTER_ERR_BAD_FRAME;
  }
  av_packet_unref(packet_);
  packet_->data = const_cast<uint8_t*>(data.data());
  packet_->size = static_cast<int>(data.size());
  const int den = format_->streams[audioIndex_]->codecpar->sample_rate;
  const int rc = write(packet_, audioIndex_, pts, durationSamples, den > 0 ? den : 8000, true);
  packet_->data = nullptr;
  packet_->size = 0;
  return rc;
}

int Mp4Muxer::finish() {
  if (!opened_) return failed_;
  opened_ = false;
  if (failed_ != 0) return failed_;
  finishing_ = true;
  const int rc = av_write_trailer(format_);
  avio_flush(io_);
  if (rc < 0 || outputFailed_ || io_->error < 0) return failure(CONVERTER_ERR_MUXER);
  return CONVERTER_OK;
}

}  // namespace streamconverter
