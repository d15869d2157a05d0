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

PictureScaler::~PictureScaler() {
  sws_freeContext(context_.context);
  sws_freeContext(resize_.context);
}

SwsContext* PictureScaler::contextFor(Conversion& conversion, const Settings& settings) {
  if (conversion.context && conversion.settings == settings) return conversion.context;
  sws_freeContext(conversion.context);
  const Settings& s = settings;
  conversion.context =
      sws_getContext(s.srcWidth, s.srcHeight, static_cast<AVPixelFormat>(s.srcFormat), s.dstWidth, s.dstHeight,
                     static_cast<AVPixelFormat>(s.dstFormat), s.flags, nullptr, nullptr, nullptr);
  conversion.settings = settings;
  return conversion.context;
}

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
  // A picture of another size takes two steps, the planes scaled in their
  // own format, then the scaled picture converted at the target's size:
  // libswscale converts a picture of the same size with its own vector
  // code, while a scaler that converts as it scales pays for every filter
  // tap in RGB terms (twice the cost, shrinking or enlarging). Shrinking
  // into a grid cell, the common case, takes the fast filter; enlarging (a
  // zoomed region, a big window) the smoother one. Three 8-bit planes
  // (4:2:0, 4:2:2, 4:4:4) take this way.
  const bool sameSize = width == c.width && height == c.height;
  const bool shrinking = width < c.width && height < c.height;
  const bool threePlanes8 = desc->nb_components == 3 && desc->comp[0].depth == 8 &&
                            !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->comp[1].plane == 1 &&
                            desc->comp[2].plane == 2;
  // The conversion's vector code writes whole groups of sixteen pixels: a
  // row with room for them up to its stride gets all its pixels that way; a
  // tighter one would lose its last few (or the last row would overrun the
  // target), and takes the one-step way.
  const bool roomForGroups = stride >= ((width + 15) & ~15) * 4;
  const int filter = shrinking ? SWS_FAST_BILINEAR : SWS_BILINEAR;
  if (!sameSize && threePlanes8 && roomForGroups) {
    SwsContext* resize = contextFor(resize_, {c.width, c.height, format, width, height, format, filter});
    SwsContext* convert =
        contextFor(context_, {width, height, format, width, height, AV_PIX_FMT_BGR0, SWS_FAST_BILINEAR});
    if (!resize || !convert) return false;
    // Rows padded to 32 bytes for the scaler's vector code.
    const int chromaWidth = -((-width) >> desc->log2_chroma_w);
    const int chromaHeight = -((-height) >> desc->log2_chroma_h);
    const int lumaStride = (width + 31) & ~31;
    const int chromaStride = (chromaWidth + 31) & ~31;
    const size_t lumaBytes = static_cast<size_t>(lumaStride) * height;
    const size_t chromaBytes = static_cast<size_t>(chromaStride) * chromaHeight;
    resized_.resize(lumaBytes + 2 * chromaBytes + 64);
    uint8_t* base = resized_.data();
    uint8_t* resizedPlanes[4] = {base, base + lumaBytes, base + lumaBytes + chromaBytes, nullptr};
    int resizedStrides[4] = {lumaStride, chromaStride, chromaStride, 0};
    if (sws_scale(resize, planes, strides, 0, c.height, resizedPlanes, resizedStrides) <= 0) return false;
    const uint8_t* const* fromResized = resizedPlanes;
    return sws_scale(convert, fromResized, resizedStrides, 0, height, out, outStrides) > 0;
  }
  SwsContext* convert = contextFor(context_, {c.width, c.height, format, width, height, AV_PIX_FMT_BGR0, filter});
  if (!convert) return false;
  return sws_scale(convert, planes, strides, 0, c.height, out, outStrides) > 0;
}

}  // namespace devlink
