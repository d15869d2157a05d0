#include "platform/devlink/PictureScaler.h"

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace devlink {

namespace {

// Larger than any window of any screen; guards the arithmetic below.
constexpr int kMaxExtent = 16384;

}  // namespace

PictureScaler::~PictureScaler() { sws_freeContext(context_); }

PictureScaler::Crop PictureScaler::clampCrop(const AVFrame* picture, Crop crop) {
  const int w = picture->width;
  const int h = picture->height;
  const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
  const int alignX = desc ? 1 << desc->log2_chroma_w : 1;
  const int alignY = desc ? 1 << desc->log2_chroma_h : 1;
  int left = std::clamp(crop.left, 0, w);
  int top = std::clamp(crop.top, 0, h);
  const int right = crop.width > 0 ? std::min(w, left + std::min(crop.width, w)) : 0;
  const int bottom = crop.height > 0 ? std::min(h, top + std::min(crop.height, h)) : 0;
  // Chroma planes cannot start between two of their samples.
  left -= left % alignX;
  top -= top % alignY;
  if (right - left < 2 || bottom - top < 2) return Crop{0, 0, w, h};
  return Crop{left, top, right - left, bottom - top};
}

bool PictureScaler::scale(const AVFrame* picture, const Crop& crop, uint8_t* target, int width, int height,
                          int stride) {
  if (!picture || !target || width <= 0 || height <= 0 || width > kMaxExtent || height > kMaxExtent ||
      stride < width * 4) {
    return false;
  }
  const auto format = static_cast<AVPixelFormat>(picture->format);
  const auto* desc = av_pix_fmt_desc_get(format);
  if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || (desc->flags & AV_PIX_FMT_FLAG_PAL)) return false;
  const Crop c = clampCrop(picture, crop);
  // Shrinking into a grid cell is the common case and the costly one; the
  // fast filter halves its cost at a small loss of sharpness. Enlarging (a
  // zoomed region, a big window) keeps the smoother filter.
  const bool shrinking = width < c.width && height < c.height;
  context_ = sws_getCachedContext(context_, c.width, c.height, format, width, height, AV_PIX_FMT_BGR0,
                                  shrinking ? SWS_FAST_BILINEAR : SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!context_) return false;
  // Point each plane at the crop's corner.
  const uint8_t* planes[4] = {};
  int strides[4] = {};
  for (int i = 0; i < 4 && picture->data[i]; ++i) {
    int step = 1;
    for (int k = 0; k < desc->nb_components; ++k) {
      if (desc->comp[k].plane == i) step = std::max(step, desc->comp[k].step);
    }
    const bool chroma = i == 1 || i == 2;
    const int x = chroma ? c.left >> desc->log2_chroma_w : c.left;
    const int y = chroma ? c.top >> desc->log2_chroma_h : c.top;
    planes[i] = picture->data[i] + static_cast<ptrdiff_t>(y) * picture->linesize[i] + static_cast<ptrdiff_t>(x) * step;
    strides[i] = picture->linesize[i];
  }
  uint8_t* out[4] = {target, nullptr, nullptr, nullptr};
  int outStrides[4] = {stride, 0, 0, 0};
  return sws_scale(context_, planes, strides, 0, c.height, out, outStrides) > 0;
}

}  // namespace devlink
