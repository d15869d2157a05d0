#include "bench/support/GridStreams.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "bench/support/ProcessCpu.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/ui/WindowApi.h"
#include "tools/devsim/DevSimServer.h"

namespace benchsupport {

namespace {

using namespace std::chrono_literals;

// The simulator's clock: local wall-clock time as calendar milliseconds.
int64_t calendarNowMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  localtime_r(&ts.tv_sec, &local);
  return static_cast<int64_t>(timegm(&local)) * 1000 + ts.tv_nsec / 1000000;
}

void onDrawn(int32_t, void*, void* context) {
  auto* cell = static_cast<Cell*>(context);
  if (!cell->measuring.load(std::memory_order_relaxed)) return;
  cell->latencyMs.push_back(static_cast<int32_t>(calendarNowMs() - cell->renderer->drawingFrameTimeMs()));
}

bool isKeyFrame(int32_t type) { return type == DLSDK_FRAME_KEY || type == DLSDK_FRAME_FORCED_KEY; }

int onMedia(int32_t, const DLSDK_MediaFrame* f, void* context) {
  auto* cell = static_cast<Cell*>(context);
  if (!cell->record || f->frameType == DLSDK_FRAME_AUDIO || f->length <= 32) return 1;
  if (!cell->measuring.load(std::memory_order_relaxed)) return 1;
  std::lock_guard lock(cell->framesMutex);
  // A decoder fed from the middle of a group of pictures only wastes work
  // on pictures it cannot show: the recording starts at a key frame.
  if (cell->frames.empty() && !isKeyFrame(f->frameType)) return 1;
  cell->format = f->formatCode;
  cell->frames.emplace_back(f->data + 32, f->data + f->length);
  return 1;
}

}  // namespace

Totals totals(const Cells& cells) {
  Totals t;
  for (const auto& c : cells) {
    const auto s = c->renderer->stats();
    t.decoded += s.framesDecoded;
    t.drawn += s.framesDrawn;
    t.dropped += s.framesDropped;
    t.skipped += s.framesSkipped;
    t.errors += s.decodeErrors;
    t.cpuNs += s.cpuNs;
  }
  return t;
}

std::unique_ptr<Cell> openCell(int32_t login, uint16_t mediaPort, int channel, int type, ui::HWND window, bool record) {
  auto cell = std::make_unique<Cell>();
  cell->record = record;
  cell->latencyMs.reserve(4096);
  DLSDK_LiveStreamRequest r{};
  r.channel = channel;
  r.reserved1 = 1;
  r.streamType = type;
  r.mediaPort = mediaPort;
  if (DLSDK_RealStreamConnect(&cell->handle, login, &r) != DLSDK_OK ||
      DLSDK_StreamOpenEx(cell->handle, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576) != DLSDK_OK) {
    return nullptr;
  }
  cell->renderer = devlink::DisplayTable::instance().find(cell->handle);
  DLSDK_StreamSetFrameSize(cell->handle, 5);
  DLSDK_StreamResetDraw(cell->handle, 2, &onDrawn, cell.get());
  DLSDK_StreamMediaCB(cell->handle, &onMedia, cell.get());
  DLSDK_StreamPlay(cell->handle, window);
  return cell;
}

void closeCells(Cells& cells) {
  for (auto& c : cells) {
    DLSDK_StreamMediaCB(c->handle, nullptr, nullptr);
    DLSDK_StreamStop(c->handle);
    DLSDK_RealStreamDisconnect(c->handle);
  }
}

int32_t startSdkAndLogin(uint16_t commandPort) {
  DLSDK_StartUp();
  DLSDK_SetAttribute(DLSDK_ATTR_RECEIVE_BUFFER, 0x200000);
  DLSDK_LoginInfo info{};
  std::strcpy(info.address, "127.0.0.1");
  info.commandPort = commandPort;
  std::strcpy(info.user, "admin");
  std::strcpy(info.password, "admin");
  int32_t login = -1;
  return DLSDK_UserLogin(&login, &info) == DLSDK_OK ? login : -1;
}

bool openGrid(Grid& grid, int32_t login, uint16_t mediaPort, int n, int channels, int recorded,
              std::chrono::milliseconds spread) {
  grid.top.setClassBackground(ui::RGB(0x48, 0x4D, 0x5A));
  const ui::HWND top = grid.top.create(0, {0, 0, 1920, 1080}, "grid", ui::WS_VISIBLE | ui::WS_POPUP);
  const int cw = 1920 / n, ch = 1080 / n;
  for (int i = 0; i < n * n; ++i) {
    auto w = std::make_unique<ui::Window>();
    w->setClassBackground(ui::RGB(0x48, 0x4D, 0x5A));
    const int x = (i % n) * cw, y = (i / n) * ch;
    const ui::HWND hwnd = w->create(top, {x, y, x + cw, y + ch}, "", ui::WS_CHILD | ui::WS_VISIBLE);
    auto cell = openCell(login, mediaPort, i % channels, DLSDK_STREAM_SUB, hwnd, i < recorded);
    if (!cell) {
      std::fprintf(stderr, "stream %d did not open\n", i);
      return false;
    }
    grid.cells.push_back(std::move(cell));
    grid.windows.push_back(std::move(w));
    if (spread.count() > 0) ui::pumpMessagesUntil([] { return false; }, spread / (n * n));
  }
  return true;
}

RunResult measure(Cells& cells, int seconds, const MeasureOptions& options) {
  ui::pumpMessagesUntil([] { return false; }, 2s);
  std::vector<uint64_t> drawnBefore;
  for (const auto& c : cells) drawnBefore.push_back(c->renderer->stats().framesDrawn);
  for (auto& c : cells) c->measuring = true;
  const Totals before = totals(cells);
  const uint64_t sentBefore = options.server ? options.server->picturesSent() : 0;
  const double companionBefore = options.companion ? processCpuSeconds(options.companion).value_or(0) : 0;
  const double cpuBefore = processCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  ui::pumpMessagesUntil([] { return false; }, std::chrono::seconds(seconds));
  for (auto& c : cells) c->measuring = false;
  RunResult r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.processCpu = processCpuSeconds() - cpuBefore;
  if (options.companion) r.companionCpu = processCpuSeconds(options.companion).value_or(0) - companionBefore;
  if (options.server) r.picturesSent = options.server->picturesSent() - sentBefore;
  const Totals after = totals(cells);
  for (size_t i = 0; i < cells.size(); ++i)
    r.drawnPerCell.push_back(cells[i]->renderer->stats().framesDrawn - drawnBefore[i]);
  r.delta.decoded = after.decoded - before.decoded;
  r.delta.drawn = after.drawn - before.drawn;
  r.delta.dropped = after.dropped - before.dropped;
  r.delta.skipped = after.skipped - before.skipped;
  r.delta.errors = after.errors - before.errors;
  r.delta.cpuNs = after.cpuNs - before.cpuNs;
  return r;
}

void collectLatencies(Cells& cells, RunResult& r) {
  for (auto& c : cells) {
    DLSDK_StreamResetDraw(c->handle, 2, nullptr, nullptr);  // the drawing threads stop writing latencies
    r.latencies.insert(r.latencies.end(), c->latencyMs.begin(), c->latencyMs.end());
  }
}

namespace {

// A bare decoder as the baseline uses it: one thread, low delay.
AVCodecContext* openBareDecoder(int format) {
  const AVCodec* codec = avcodec_find_decoder(format == DLSDK_FORMAT_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->thread_count = 1;
  ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
  avcodec_open2(ctx, codec, nullptr);
  return ctx;
}

// Feeds one recorded frame (copied into a padded buffer, as the SDK does)
// and counts the pictures that come out.
class BareFeeder {
 public:
  BareFeeder() : packet_(av_packet_alloc()), picture_(av_frame_alloc()) {}
  ~BareFeeder() {
    av_frame_free(&picture_);
    av_packet_free(&packet_);
  }
  void feed(AVCodecContext* ctx, const std::vector<uint8_t>& frame, size_t& decoded) {
    padded_.assign(frame.begin(), frame.end());
    padded_.resize(frame.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    packet_->data = padded_.data();
    packet_->size = static_cast<int>(frame.size());
    if (avcodec_send_packet(ctx, packet_) < 0) return;
    while (avcodec_receive_frame(ctx, picture_) == 0) ++decoded;
  }

 private:
  AVPacket* packet_;
  AVFrame* picture_;
  std::vector<uint8_t> padded_;
};

double threadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

}  // namespace

double bareDecodeNsPerFrame(const std::vector<std::vector<uint8_t>>& frames, int format, size_t& decoded,
                            std::chrono::milliseconds interval) {
  AVCodecContext* ctx = openBareDecoder(format);
  BareFeeder feeder;
  double ns = 0;
  const auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < frames.size(); ++i) {
    // Paced: the thread waits between frames as a live stream's drawing
    // thread does, and its caches cool meanwhile.
    if (interval.count() > 0) std::this_thread::sleep_until(start + interval * static_cast<int64_t>(i));
    const double begin = threadCpuNs();
    feeder.feed(ctx, frames[i], decoded);
    ns += threadCpuNs() - begin;
  }
  avcodec_free_context(&ctx);
  return decoded ? ns / decoded : 0;
}

double bareDecodeInterleavedNsPerFrame(Cells& cells, size_t& decoded) {
  // One decoder per recorded stream, fed one frame of each stream in turn:
  // the order the frames arrived in, as the drawing threads decode them.
  struct Stream {
    AVCodecContext* ctx = nullptr;
    const std::vector<std::vector<uint8_t>>* frames = nullptr;
  };
  std::vector<Stream> streams;
  std::vector<std::unique_lock<std::mutex>> locks;
  size_t longest = 0;
  for (auto& c : cells) {
    if (!c->record) continue;
    locks.emplace_back(c->framesMutex);
    streams.push_back({openBareDecoder(c->format), &c->frames});
    longest = std::max(longest, c->frames.size());
  }
  BareFeeder feeder;
  const double begin = threadCpuNs();
  for (size_t i = 0; i < longest; ++i) {
    for (Stream& s : streams) {
      if (i < s.frames->size()) feeder.feed(s.ctx, (*s.frames)[i], decoded);
    }
  }
  const double ns = threadCpuNs() - begin;
  for (Stream& s : streams) avcodec_free_context(&s.ctx);
  return decoded ? ns / decoded : 0;
}

BareDecode bareDecodeRecorded(Cells& cells) {
  BareDecode out;
  double ns = 0;
  for (auto& c : cells) {
    if (!c->record) continue;
    std::lock_guard lock(c->framesMutex);
    size_t n = 0;
    ns += bareDecodeNsPerFrame(c->frames, c->format, n) * static_cast<double>(n);
    out.decoded += n;
    out.recorded += c->frames.size();
  }
  out.nsPerFrame = out.decoded ? ns / static_cast<double>(out.decoded) : 0;
  return out;
}

}  // namespace benchsupport
