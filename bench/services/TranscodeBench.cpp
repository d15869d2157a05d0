// Throughput of the talk-audio transcoding (44.1 kHz stereo 16-bit WAV to
// 8 kHz A-law) in seconds of audio per second of CPU, measured against
// ffmpeg converting the same file to 8 kHz pcm_alaw in the same run. The
// headline is the page's entry point (base64 in and out) against ffmpeg's
// conversion work alone: ffmpeg's fixed cost (start-up, probing), measured
// on one second of the same audio, is taken off its figure.
//
// Usage: bench_transcode [seconds of audio, default 300]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sys/Base64.h"
#include "shell/services/AudioTranscoder.h"

extern char** environ;

namespace {

void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v));
  put16(out, static_cast<uint16_t>(v >> 16));
}

// Speech-like test audio: two tones with a slow envelope and a little noise.
std::string makeWav(int seconds) {
  const uint32_t rate = 44100;
  const uint32_t frames = rate * static_cast<uint32_t>(seconds);
  std::string wav = "RIFF";
  put32(wav, 36 + frames * 4);
  wav += "WAVEfmt ";
  put32(wav, 16);
  put16(wav, 1);
  put16(wav, 2);
  put32(wav, rate);
  put32(wav, rate * 4);
  put16(wav, 4);
  put16(wav, 16);
  wav += "data";
  put32(wav, frames * 4);
  wav.reserve(wav.size() + frames * 4);
  uint32_t noise = 12345;
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 0.7 * t);
    noise = noise * 1664525u + 1013904223u;
    const double n = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 800;
    const double left = envelope * 12000 * std::sin(2 * M_PI * 220 * t) + n;
    const double right = envelope * 9000 * std::sin(2 * M_PI * 330 * t) - n;
    put16(wav, static_cast<uint16_t>(static_cast<int16_t>(left)));
    put16(wav, static_cast<uint16_t>(static_cast<int16_t>(right)));
  }
  return wav;
}

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU seconds (user + system) of one ffmpeg run, or a negative value.
double ffmpegCpuSeconds(const std::string& input, const std::string& output) {
  std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                   "-i",     input,      "-ar",          "8000",      "-ac",   "1",
                                   "-c:a",   "pcm_alaw", "-f",           "alaw",      output};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  const std::string wav = makeWav(seconds);
  const std::string base64 = sys::base64Encode(wav);
  std::printf("input: %d s of 44.1 kHz stereo 16-bit WAV (%zu bytes)\n", seconds, wav.size());

  // The pipeline alone (parse, mix, resample, compand), then the whole entry
  // point the page uses (base64 in, base64 out). Best of five runs each.
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(wav.data()), wav.size());
  double bestPipeline = 1e9;
  double bestEntry = 1e9;
  size_t outputBytes = 0;
  for (int run = 0; run < 5; ++run) {
    double start = processCpuSeconds();
    kestrova::WavInfo info;
    std::vector<uint8_t> out;
    if (kestrova::parseWav(bytes, info) != 0 || kestrova::transcodePcm(info, -1, false, out) != 0) {
      std::fprintf(stderr, "transcoding failed\n");
      return 1;
    }
    bestPipeline = std::min(bestPipeline, processCpuSeconds() - start);
    outputBytes = out.size();

    start = processCpuSeconds();
    std::string audio;
    if (kestrova::transcodeBase64Wav(base64, -1, false, audio) != 0) return 1;
    bestEntry = std::min(bestEntry, processCpuSeconds() - start);
  }
  std::printf("kestrova pipeline:          %8.4f CPU s, %8.0f s of audio per CPU s (%zu output bytes)\n", bestPipeline,
              seconds / bestPipeline, outputBytes);
  std::printf("kestrova base64 in and out: %8.4f CPU s, %8.0f s of audio per CPU s\n", bestEntry, seconds / bestEntry);

  char folder[] = "/tmp/kestrova-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const std::string input = std::string(folder) + "/in.wav";
  const std::string shortInput = std::string(folder) + "/one-second.wav";
  const std::string output = std::string(folder) + "/out.alaw";
  std::ofstream(input, std::ios::binary) << wav;
  std::ofstream(shortInput, std::ios::binary) << makeWav(1);
  // Best of three runs of ffmpeg on the whole input and on one second.
  const auto bestOf = [&](const std::string& file) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
      const double cpu = ffmpegCpuSeconds(file, output);
      if (cpu < 0) return -1.0;
      best = std::min(best, cpu);
    }
    return best;
  };
  const double ffmpegWhole = bestOf(input);
  const double ffmpegFixed = ffmpegWhole < 0 ? -1 : bestOf(shortInput);
  std::remove(input.c_str());
  std::remove(shortInput.c_str());
  std::remove(output.c_str());
  ::rmdir(folder);
  if (ffmpegWhole < 0 || ffmpegFixed < 0) {
    std::printf("ffmpeg: not available\n");
    return 0;
  }
  // One second of audio costs ffmpeg its fixed cost plus one second's work.
  const double perSecond = std::max(0.0, (ffmpegWhole - ffmpegFixed) / (seconds - 1 > 0 ? seconds - 1 : 1));
  const double ffmpegWork = std::max(1e-9, perSecond * seconds);
  std::printf("ffmpeg (whole process):     %8.4f CPU s, of which %.4f CPU s fixed (start-up, one second of audio)\n",
              ffmpegWhole, ffmpegFixed);
  std::printf("ffmpeg conversion work:     %8.4f CPU s, %8.0f s of audio per CPU s\n", ffmpegWork,
              seconds / ffmpegWork);
  std::printf("base64 entry point relative to ffmpeg's conversion work: %.2fx (pipeline alone %.2fx)\n",
              ffmpegWork / bestEntry, ffmpegWork / bestPipeline);
  return 0;
}
