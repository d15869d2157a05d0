// What the device simulator's pictures cost a decoder: two seconds of the
// test picture and of the camera-like scene, H.264 at 704 x 576 and H.265 at
// 1280 x 720, each decoded by bare libavcodec on one thread from its first
// key frame. Prints the bit rate of each stream and the frames per second a
// core decodes, and the scene's cost against the test picture's.
//
// Usage: content_bench [decode passes, default 5]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/support/GridStreams.h"
#include "platform/devlink/DevLinkSdk.h"
#include "tools/devsim/EncodedLoop.h"

int main(int argc, char** argv) {
  const int passes = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 100) : 5;
  av_log_set_level(AV_LOG_QUIET);
  struct Size {
    int w, h;
    bool h265;
  } sizes[] = {{704, 576, false}, {1280, 720, true}};
  std::printf("%-24s %10s %14s %12s\n", "stream", "kbit/s", "decoded fps", "cost ratio");
  for (const Size s : sizes) {
    double patternNs = 0;
    for (const devsim::Content content : {devsim::Content::kPattern, devsim::Content::kScene}) {
      std::string error;
      const auto loop = devsim::EncodedLoop::encode(s.w, s.h, 0, s.h265, 2, &error, content);
      if (!loop) {
        std::fprintf(stderr, "encoding failed: %s\n", error.c_str());
        return 1;
      }
      size_t bytes = 0;
      for (const auto& f : loop->frames) bytes += f.size();
      const double kbps = bytes * 8.0 / 1000.0 / 2.0;
      double best = 0;
      for (int p = 0; p < passes; ++p) {
        size_t decoded = 0;
        const double ns =
            benchsupport::bareDecodeNsPerFrame(loop->frames, s.h265 ? DLSDK_FORMAT_H265 : DLSDK_FORMAT_H264, decoded);
        if (decoded == 0) {
          std::fprintf(stderr, "nothing decoded\n");
          return 1;
        }
        best = p == 0 ? ns : std::min(best, ns);
      }
      const bool scene = content == devsim::Content::kScene;
      if (!scene) patternNs = best;
      char name[48];
      std::snprintf(name, sizeof name, "%s %dx%d %s", s.h265 ? "H.265" : "H.264", s.w, s.h,
                    scene ? "scene" : "pattern");
      std::printf("%-24s %10.0f %14.0f", name, kbps, 1e9 / best);
      if (scene) std::printf(" %11.2fx", best / patternNs);
      std::printf("\n");
    }
  }
  return 0;
}
