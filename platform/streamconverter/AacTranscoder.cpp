#include "platform/streamconverter/AacTranscoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
}

#include <cstdlib>
#include <cstring>

#include "platform/sys/G711.h"

namespace streamconverter {

std::unique_ptr<AacTranscoder> AacTranscoder::open() {
  const char* name = std::getenv("KESTROVA_CONVERTER_AAC_ENCODER");
  if (name == nullptr || *name == 0) name = "aac";
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (codec == nullptr || codec->type != AVMEDIA_TYPE_AUDIO) return nullptr;

  std::unique_ptr<AacTranscoder> t(new AacTranscoder);
  t->ctx_ = avcodec_alloc_context3(codec);
  t->frame_ = av_frame_alloc();
  t->packet_ = av_packet_alloc();
  if (t->ctx_ == nullptr || t->frame_ == nullptr || t->packet_ == nullptr) return nullptr;
  AVCodecContext* c = t->ctx_;
  c->sample_rate = kSampleRate;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&c->ch_layout, 1);
  c->bit_rate = 24000;
  c->profile = FF_PROFILE_AAC_LOW;
  c->time_base = AVRational{1, kSampleRate};
  // The MP4 track carries the AudioSpecificConfig; packets are raw.
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // The fast coder costs a fraction of the default search and is plenty for
  // an 8 kHz camera microphone.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "aac_coder", "fast", 0);
  const int rc = avcodec_open2(c, codec, &options);
  av_dict_free(&options);
  if (rc < 0) return nullptr;
  if (c->frame_size <= 0 || c->frame_size > 8192) return nullptr;
  t->frameSize_ = c->frame_size;
  t->frame_->format = AV_SAMPLE_FMT_FLTP;
  t->frame_->sample_rate = kSampleRate;
  t->frame_->nb_samples = t->frameSize_;
  if (av_channel_layout_copy(&t->frame_->ch_layout, &c->ch_layout) < 0) return nullptr;
  if (av_frame_get_buffer(t->frame_, 0) < 0) return nullptr;
  t->pending_.reserve(t->frameSize_);
  return t;
}

AacTranscoder::~AacTranscoder() {
  avcodec_free_context(&ctx_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
}

bool AacTranscoder::push(std::span<const uint8_t> g711, bool aLaw, std::vector<AacPacket>& out) {
  if (static_cast<int64_t>(g711.size()) > kMaxSamplesAtOnce) return false;
  decoded_.resize(g711.size());
  g711::decodeScaled(aLaw ? g711::Law::kALaw : g711::Law::kMuLaw, g711, 0xFFFF, decoded_.data());
  return appendSamples(decoded_.data(), static_cast<int64_t>(decoded_.size()), out);
}

bool AacTranscoder::pad(int64_t count, std::vector<AacPacket>& out) {
  if (count <= 0) return true;
  if (count > kMaxSamplesAtOnce) return false;
  decoded_.assign(static_cast<size_t>(count), 0);
  return appendSamples(decoded_.data(), count, out);
}

bool AacTranscoder::appendSamples(const int16_t* pcm, int64_t count, std::vector<AacPacket>& out) {
  for (int64_t i = 0; i < count; ++i) {
    pending_.push_back(static_cast<float>(pcm[i]) * (1.0f / 32768.0f));
    if (static_cast<int>(pending_.size()) == frameSize_ && !encodeFrame(out)) return false;
  }
  samples_ += count;
  return true;
}

bool AacTranscoder::encodeFrame(std::vector<AacPacket>& out) {
  if (av_frame_make_writable(frame_) < 0) return false;
  std::memcpy(frame_->data[0], pending_.data(), pending_.size() * sizeof(float));
  frame_->nb_samples = frameSize_;
  frame_->pts = framePts_;
  framePts_ += frameSize_;
  pending_.clear();
  if (avcodec_send_frame(ctx_, frame_) < 0) return false;
  return drain(out);
}

bool AacTranscoder::drain(std::vector<AacPacket>& out) {
  for (;;) {
    const int rc = avcodec_receive_packet(ctx_, packet_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    // The encoder's first packet primes the decoder and is stamped before
    // the first sample; it is left out so that the sound starts at the
    // time of its first sample (a decoder fades the first frame in).
    if (packet_->pts >= 0 && packet_->size > 0) {
      out.push_back(AacPacket{std::vector<uint8_t>(packet_->data, packet_->data + packet_->size), packet_->pts});
    }
    av_packet_unref(packet_);
  }
}

bool AacTranscoder::flush(std::vector<AacPacket>& out) {
  pending_.clear();
  if (avcodec_send_frame(ctx_, nullptr) < 0) return false;
  return drain(out);
}

}  // namespace streamconverter
