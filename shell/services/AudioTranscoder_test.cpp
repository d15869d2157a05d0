#include "shell/services/AudioTranscoder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/sys/Base64.h"
#include "platform/sys/G711.h"
#include "tests/support/RequiredTool.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v & 0xFFFF));
  put16(out, static_cast<uint16_t>(v >> 16));
}

struct WavLayout {
  uint16_t format = 1;
  uint16_t channels = 1;
  uint32_t rate = 8000;
  uint16_t bits = 16;
  int blockAlign = -1;  // -1: channels * bits / 8
  std::string before;   // raw chunks between "fmt " and "data"
  int64_t declaredDataSize = -1;  // -1: the real size
};

std::string makeWav(const WavLayout& layout, const std::string& data) {
  std::string out = "RIFF";
  put32(out, 0);  // the RIFF size is not used by readers of this format
  out += "WAVEfmt ";
  put32(out, 16);
  put16(out, layout.format);
  put16(out, layout.channels);
  put32(out, layout.rate);
  const uint16_t align = layout.blockAlign >= 0 ? static_cast<uint16_t>(layout.blockAlign)
                                              : static_cast<uint16_t>(layout.channels * layout.bits / 8);
  put32(out, layout.rate * align);
  put16(out, align);
  put16(out, layout.bits);
  out += layout.before;
  out += "data";
  put32(out, layout.declaredDataSize >= 0 ? static_cast<uint32_t>(layout.declaredDataSize) : static_cast<uint32_t>(data.size()));
  out += data;
  return out;
}

std::string samples16(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) put16(out, static_cast<uint16_t>(static_cast<int16_t>(v)));
  return out;
}

// Transcodes WAV bytes given as base64 and hands back the companded bytes.
int transcode(const std::string& wav, std::string& bytes, bool ulaw = false, int64_t maxSamples = -1) {
  std::string base64;
  const int result = transcodeBase64Wav(sys::base64Encode(wav), maxSamples, ulaw, base64);
  bytes.clear();
  if (result == 0) {
    const auto decoded = sys::base64Decode(base64);
    EXPECT_TRUE(decoded.has_value());
    if (decoded) bytes.assign(decoded->begin(), decoded->end());
  }
  return result;
}

TEST(AudioTranscoder, OutputLengthFollowsTheRateAndTheLimit) {
  WavLayout layout;
  layout.channels = 2;
  layout.rate = 44100;
  const std::string wav = makeWav(layout, std::string(44100 * 4, '\0'));
  std::string bytes;
  ASSERT_EQ(0, transcode(wav, bytes));
  EXPECT_EQ(8000u, bytes.size());
  ASSERT_EQ(0, transcode(wav, bytes, false, 1000));
  EXPECT_EQ(1000u, bytes.size());
  ASSERT_EQ(0, transcode(wav, bytes, false, 0));
  EXPECT_EQ(0u, bytes.size());
  ASSERT_EQ(0, transcode(wav, bytes, false, 100000));
  EXPECT_EQ(8000u, bytes.size()) << "a limit above the length changes nothing";
}

TEST(AudioTranscoder, MixesChannelsAndWidthsToMono) {
  std::string bytes;
  // Stereo 16-bit: the average truncates toward zero, so 32767 and -32768
  // mix to 0 (A-law 0xD5), not to -1 (0x55).
  WavLayout stereo;
  stereo.channels = 2;
  ASSERT_EQ(0, transcode(makeWav(stereo, samples16({32767, -32768, 4000, 4000})), bytes));
  EXPECT_EQ(std::string({'\xD5', static_cast<char>(g711::encodeALaw(4000))}), bytes);

  // 8-bit: unsigned around 128, scaled by 256.
  WavLayout mono8;
  mono8.bits = 8;
  ASSERT_EQ(0, transcode(makeWav(mono8, std::string("\x00\x80\xFF", 3)), bytes));
  EXPECT_EQ(std::string({static_cast<char>(g711::encodeALaw(-32768)), static_cast<char>(g711::encodeALaw(0)),
                         static_cast<char>(g711::encodeALaw(32512))}),
            bytes);

  WavLayout stereo8 = mono8;
  stereo8.channels = 2;
  ASSERT_EQ(0, transcode(makeWav(stereo8, std::string("\x00\xFF", 2)), bytes));
  EXPECT_EQ(std::string(1, static_cast<char>(g711::encodeALaw(-128))), bytes);

  // Three channels: the first channel of each frame.
  WavLayout three;
  three.channels = 3;
  ASSERT_EQ(0, transcode(makeWav(three, samples16({-9000, 1, 2, 12000, 3, 4})), bytes, true));
  EXPECT_EQ(std::string({static_cast<char>(g711::encodeMuLawDesigned(-9000)), static_cast<char>(g711::encodeMuLawDesigned(12000))}), bytes);
}

TEST(AudioTranscoder, ResamplesLinearly) {
  std::string bytes;
  // 16 kHz to 8 kHz takes every second sample exactly.
  WavLayout fast;
  fast.rate = 16000;
  ASSERT_EQ(0, transcode(makeWav(fast, samples16({-20000, 5, 1000, 7, 20000, 9})), bytes));
  EXPECT_EQ(std::string({static_cast<char>(g711::encodeALaw(-20000)), static_cast<char>(g711::encodeALaw(1000)),
                         static_cast<char>(g711::encodeALaw(20000))}),
            bytes);

  // 4 kHz to 8 kHz puts the midpoint between neighbours; the last sample has
  // no right neighbour and repeats.
  WavLayout slow;
  slow.rate = 4000;
  ASSERT_EQ(0, transcode(makeWav(slow, samples16({0, 10000})), bytes, true));
  EXPECT_EQ(std::string({static_cast<char>(g711::encodeMuLawDesigned(0)), static_cast<char>(g711::encodeMuLawDesigned(5000)),
                         static_cast<char>(g711::encodeMuLawDesigned(10000)), static_cast<char>(g711::encodeMuLawDesigned(10000))}),
            bytes);
}

TEST(AudioTranscoder, SkipsOtherChunksIncludingPaddedOnes) {
  WavLayout layout;
  layout.before = std::string("LIST", 4) + std::string("\x05\x00\x00\x00", 4) + "INFO!" + std::string(1, '\0');
  layout.before += std::string("junk", 4) + std::string("\x02\x00\x00\x00", 4) + "zz";
  std::string bytes;
  ASSERT_EQ(0, transcode(makeWav(layout, samples16({100, 200})), bytes));
  EXPECT_EQ(2u, bytes.size());

  // Chunk ids compare without case.
  std::string lower = makeWav(WavLayout{}, samples16({1}));
  for (const size_t at : {0, 8, 12}) {
    for (size_t i = at; i < at + 4; ++i) lower[i] = static_cast<char>(std::tolower(lower[i]));
  }
  EXPECT_EQ(0, transcode(lower, bytes));
}

TEST(AudioTranscoder, RefusesBrokenOrUnsupportedInput) {
  const std::string data = samples16({1, 2, 3, 4});
  std::string bytes;
  WavLayout floatFormat;
  floatFormat.format = 3;
  EXPECT_EQ(1003, transcode(makeWav(floatFormat, data), bytes));
  WavLayout bits24;
  bits24.bits = 24;
  EXPECT_EQ(1003, transcode(makeWav(bits24, data), bytes));
  WavLayout zeroAlign;
  zeroAlign.blockAlign = 0;
  EXPECT_EQ(1003, transcode(makeWav(zeroAlign, data), bytes));
  WavLayout shortAlign;
  shortAlign.channels = 2;
  shortAlign.blockAlign = 2;  // a stereo 16-bit frame needs 4 bytes
  EXPECT_EQ(1003, transcode(makeWav(shortAlign, data), bytes));
  WavLayout zeroRate;
  zeroRate.rate = 0;
  EXPECT_EQ(1003, transcode(makeWav(zeroRate, data), bytes));
  WavLayout zeroChannels;
  zeroChannels.channels = 0;
  zeroChannels.blockAlign = 2;
  EXPECT_EQ(1003, transcode(makeWav(zeroChannels, data), bytes));
  WavLayout pastEnd;
  pastEnd.declaredDataSize = 0xFFFFFFFF;
  EXPECT_EQ(1003, transcode(makeWav(pastEnd, data), bytes));
  WavLayout hugeChunk;
  hugeChunk.before = std::string("LIST", 4) + std::string("\xF0\xFF\xFF\xFF", 4);
  EXPECT_EQ(1003, transcode(makeWav(hugeChunk, data), bytes));

  const std::string good = makeWav(WavLayout{}, data);
  for (size_t cut = 0; cut < 44; ++cut) EXPECT_EQ(1003, transcode(good.substr(0, cut), bytes)) << cut;
  std::string notRiff = good;
  notRiff[0] = 'X';
  EXPECT_EQ(1003, transcode(notRiff, bytes));

  // A tiny declared rate would ask for an enormous output.
  WavLayout tinyRate;
  tinyRate.rate = 1;
  EXPECT_EQ(1002, transcode(makeWav(tinyRate, std::string(20000, '\0')), bytes));

  std::string out;
  EXPECT_EQ(1003, transcodeBase64Wav("", -1, false, out));
  EXPECT_EQ(1003, transcodeBase64Wav("UklGR@==", -1, false, out));
  EXPECT_EQ(1003, transcodeBase64Wav("UklGRg", -1, false, out)) << "unpadded";
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/kestrova-svc-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempFolder() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(AudioTranscoder, FileInputMatchesBase64Input) {
  TempFolder folder;
  WavLayout layout;
  layout.rate = 11025;
  std::string data;
  for (int i = 0; i < 2000; ++i) put16(data, static_cast<uint16_t>(static_cast<int16_t>((i * 37) % 30000 - 15000)));
  const std::string wav = makeWav(layout, data);
  const std::string path = folder.path() + "/speech file.wav";
  std::ofstream(path, std::ios::binary) << wav;

  std::string fromFile;
  std::string fromText;
  ASSERT_EQ(0, transcodeWavFile(path, -1, true, fromFile));
  ASSERT_EQ(0, transcodeBase64Wav(sys::base64Encode(wav), -1, true, fromText));
  EXPECT_EQ(fromText, fromFile);
  EXPECT_EQ(sys::base64Decode(fromFile)->size(), 2000u * 8000u / 11025u);

  std::string out;
  EXPECT_EQ(3006, transcodeWavFile(folder.path() + "/missing.wav", -1, true, out));
  EXPECT_EQ(3006, transcodeWavFile(folder.path(), -1, true, out)) << "a folder is not a file";
  std::ofstream(folder.path() + "/empty.wav").close();
  EXPECT_EQ(1003, transcodeWavFile(folder.path() + "/empty.wav", -1, true, out));
  const std::string fifo = folder.path() + "/pipe.wav";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(3006, transcodeWavFile(fifo, -1, true, out)) << "must not block on a pipe";
}

// Runs ffmpeg with `arguments`; false when it is missing or fails.
bool runFfmpeg(const std::string& arguments) {
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every 16-bit value once, companded by ffmpeg's encoder `codec`.
std::string ffmpegCodes(const TempFolder& folder, const char* codec, const char* muxer) {
  std::string input;
  for (int v = -32768; v <= 32767; ++v) put16(input, static_cast<uint16_t>(static_cast<int16_t>(v)));
  const std::string in = folder.path() + "/all.raw";
  const std::string out = folder.path() + "/all." + muxer;
  std::ofstream(in, std::ios::binary) << input;
  if (!runFfmpeg("-f s16le -ar 8000 -ac 1 -i " + in + " -c:a " + codec + " -f " + muxer + " " + out)) return {};
  return readFile(out);
}

// The levels of a companding law in increasing order, with each code's rank.
template <typename Decode>
std::vector<int> ranks(Decode decode) {
  std::vector<std::pair<int, int>> levels;
  for (int code = 0; code < 256; ++code) levels.push_back({decode(static_cast<uint8_t>(code)), code});
  std::sort(levels.begin(), levels.end());
  std::vector<int> rank(256);
  for (int i = 0; i < 256; ++i) rank[levels[i].second] = i;
  return rank;
}

TEST(G711, AlawIsStandardAndMatchesFfmpeg) {
  EXPECT_EQ(0x86, g711::encodeALaw(5000));
  EXPECT_EQ(0xD5, g711::encodeALaw(0));
  EXPECT_EQ(0x55, g711::encodeALaw(-1));
  EXPECT_EQ(0xAA, g711::encodeALaw(32767));
  EXPECT_EQ(0x2A, g711::encodeALaw(-32768));
  KSTEST_REQUIRE_TOOL("ffmpeg");
  TempFolder folder;
  const std::string reference = ffmpegCodes(folder, "pcm_alaw", "alaw");
  ASSERT_EQ(65536u, reference.size());
  const auto rank = ranks(g711::decodeALaw);
  int differ = 0;
  for (int v = -32768; v <= 32767; ++v) {
    const uint8_t ours = g711::encodeALaw(static_cast<int16_t>(v));
    const auto theirs = static_cast<uint8_t>(reference[v + 32768]);
    if (ours != theirs) {
      ++differ;
      ASSERT_EQ(1, std::abs(rank[ours] - rank[theirs])) << "input " << v;
    }
    // The decoded level lies within one step of the input; steps are 16
    // in the two lowest segments and double with each segment above.
    const int segment = ((ours ^ 0x55) & 0x70) >> 4;
    const int step = segment < 2 ? 16 : 16 << (segment - 1);
    ASSERT_LE(std::abs(g711::decodeALaw(ours) - v), step) << "input " << v;
  }
  std::printf("A-law inputs that differ from ffmpeg (adjacent codes): %d\n", differ);
  EXPECT_LT(differ, 65536 * 2 / 100);
}

TEST(G711, UlawMatchesFfmpegExceptNearSilence) {
  EXPECT_EQ(0xF7, g711::encodeMuLawDesigned(0));
  EXPECT_EQ(0x80, g711::encodeMuLawDesigned(32767));
  EXPECT_EQ(0x00, g711::encodeMuLawDesigned(-32768));
  KSTEST_REQUIRE_TOOL("ffmpeg");
  TempFolder folder;
  const std::string reference = ffmpegCodes(folder, "pcm_mulaw", "mulaw");
  ASSERT_EQ(65536u, reference.size());
  const auto rank = ranks(g711::decodeMuLaw);
  std::set<int> differing;
  for (int v = -32768; v <= 32767; ++v) {
    const uint8_t ours = g711::encodeMuLawDesigned(static_cast<int16_t>(v));
    const auto theirs = static_cast<uint8_t>(reference[v + 32768]);
    if (ours == theirs) continue;
    differing.insert(v);
    // Below 124 the exponent-0 rule picks its own codes; everywhere else a
    // difference is ffmpeg rounding to the nearer of two adjacent levels.
    if (std::abs(v) >= 124) {
      ASSERT_EQ(1, std::abs(rank[ours] - rank[theirs])) << "input " << v;
    } else {
      ASSERT_LE(std::abs(g711::decodeMuLaw(ours) - v), 128) << "input " << v;
    }
  }
  // Report the inputs that differ by range.
  std::string ranges;
  int start = 0;
  int previous = 0;
  bool open = false;
  for (const int v : differing) {
    if (open && v == previous + 1) {
      previous = v;
      continue;
    }
    if (open) ranges += std::to_string(start) + ".." + std::to_string(previous) + " ";
    start = previous = v;
    open = true;
  }
  if (open) ranges += std::to_string(start) + ".." + std::to_string(previous);
  std::printf("mu-law inputs that differ from ffmpeg: %zu: %s\n", differing.size(), ranges.c_str());
}

}  // namespace
}  // namespace kestrova
