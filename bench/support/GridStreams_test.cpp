// The shared grid pieces against an in-process simulator on the headless
// desktop: what measure() counts must add up, and the recorded frames must
// be a stream a bare decoder can play from its first frame.
#include "bench/support/GridStreams.h"

#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include <numeric>
#include <string>

#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"
#include "tools/devsim/DevSimServer.h"

namespace benchsupport {
namespace {

// Whether an H.264 access unit (Annex B) holds a sequence parameter set or
// an IDR slice: where a decoder can start.
bool startsAStream(const std::vector<uint8_t>& unit) {
  for (size_t i = 0; i + 3 < unit.size(); ++i) {
    if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
      const int type = unit[i + 3] & 0x1F;
      if (type == 5 || type == 7) return true;
    }
  }
  return false;
}

class GridStreamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    av_log_set_level(AV_LOG_QUIET);
    ASSERT_TRUE(ui::WindowSystem::install(ui::makeHeadlessBackend()));
    devsim::DevSimOptions o;
    o.commandPort = 0;
    o.mediaPort = 0;
    o.channels = 2;
    o.loopSeconds = 2;
    o.h265Channels.assign(2, false);
    server_ = std::make_unique<devsim::DevSimServer>(o);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
    login_ = startSdkAndLogin(server_->commandPort());
    ASSERT_GE(login_, 0);
  }
  void TearDown() override {
    closeCells(grid_.cells);
    grid_.cells.clear();
    grid_.windows.clear();
    if (grid_.top.hwnd()) grid_.top.destroyWindow();
    if (login_ >= 0) DLSDK_UserLogout(login_);
    DLSDK_CleanUp();
    if (server_) server_->stop();
    ui::WindowSystem::uninstall();
  }

  std::unique_ptr<devsim::DevSimServer> server_;
  int32_t login_ = -1;
  Grid grid_;
};

TEST_F(GridStreamsTest, AMeasuredStretchCountsEveryCellThePicturesSentAndTheCompanionsCpu) {
  ASSERT_TRUE(openGrid(grid_, login_, server_->mediaPort(), 2, 2, 2));
  ASSERT_EQ(grid_.cells.size(), 4u);
  EXPECT_TRUE(grid_.cells[0]->record);
  EXPECT_FALSE(grid_.cells[2]->record);

  // This process as its own companion: both CPU figures cover the same stretch.
  const RunResult r = measure(grid_.cells, 1, {server_.get(), ::getpid()});
  EXPECT_GE(r.seconds, 1.0);
  ASSERT_EQ(r.drawnPerCell.size(), 4u);
  for (const uint64_t drawn : r.drawnPerCell) EXPECT_GT(drawn, 5u);
  EXPECT_EQ(std::accumulate(r.drawnPerCell.begin(), r.drawnPerCell.end(), uint64_t{0}), r.delta.drawn);
  // Four streams at 25 pictures a second; the sound frames are not counted.
  EXPECT_GT(r.picturesSent, 4u * 15);
  EXPECT_LT(r.picturesSent, static_cast<uint64_t>(4 * 25 * (r.seconds + 1)));
  EXPECT_LE(r.delta.drawn, r.picturesSent + 4 * 5);
  EXPECT_GT(r.processCpu, 0.0);
  EXPECT_NEAR(r.companionCpu, r.processCpu, 0.05);

  closeCells(grid_.cells);
  // Recorded from a point a decoder can start at, so every frame decodes.
  for (int i = 0; i < 2; ++i) {
    std::lock_guard lock(grid_.cells[i]->framesMutex);
    ASSERT_FALSE(grid_.cells[i]->frames.empty());
    EXPECT_TRUE(startsAStream(grid_.cells[i]->frames.front())) << "cell " << i;
    EXPECT_EQ(grid_.cells[i]->format, DLSDK_FORMAT_H264);
  }
  const BareDecode bare = bareDecodeRecorded(grid_.cells);
  EXPECT_GT(bare.recorded, 0u);
  EXPECT_EQ(bare.decoded, bare.recorded);
  EXPECT_GT(bare.nsPerFrame, 0.0);
}

}  // namespace
}  // namespace benchsupport
