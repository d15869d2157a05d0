#include "plugin/session/NotifyDispatcher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "plugin/session/StreamKind.h"

namespace ksplugs {
namespace {

std::vector<NotifyEvent> received;
int record(const NotifyEvent* event, void*) {
  received.push_back(*event);
  return 0;
}

TEST(StreamKind, PageCodesBecomeDeviceCodesAndBack) {
  EXPECT_EQ(StreamKind::deviceFromPage(1), 1);
  EXPECT_EQ(StreamKind::deviceFromPage(2), 4);
  EXPECT_EQ(StreamKind::deviceFromPage(3), 5);
  // Codes the page does not define, including the device's own codes, must
  // never reach a cell as a sub or third stream.
  for (int64_t other : {int64_t{0}, int64_t{4}, int64_t{5}, int64_t{-1}, int64_t{0xFFFFFFFF},
                        std::numeric_limits<int64_t>::min()}) {
    EXPECT_EQ(StreamKind::deviceFromPage(other), 1) << other;
  }
  // The menu's items name the same three streams.
  for (int device : {StreamKind::kDeviceMain, StreamKind::kDeviceSub, StreamKind::kDeviceThird}) {
    EXPECT_EQ(StreamKind::deviceFromMenu(StreamKind::menuFromDevice(device)), device);
  }
  EXPECT_EQ(StreamKind::deviceFromMenu(0x8011), 0);
  EXPECT_EQ(StreamKind::menuFromDevice(2), 0u);
}

TEST(NotifyDispatcher, RewritesDeviceStreamCodes) {
  received.clear();
  NotifyDispatcher dispatcher;
  dispatcher.setCallback(record, nullptr);
  for (const auto& [device, page] : std::vector<std::pair<int, int>>{{1, 1}, {4, 2}, {5, 3}, {7, 7}}) {
    NotifyEvent switched{};
    switched.type = NOTIFY_STREAM_SWITCHED;
    switched.switchedStream = device;
    dispatcher.raise(switched);
    EXPECT_EQ(received.back().switchedStream, page);
    NotifyEvent bitrate{};
    bitrate.type = NOTIFY_BITRATE;
    bitrate.enable = 1;
    bitrate.bitrateStream = device;
    dispatcher.raise(bitrate);
    EXPECT_EQ(received.back().bitrateStream, page);
    EXPECT_EQ(received.back().enable, 1);
  }
  // Other types are passed untouched.
  NotifyEvent file{};
  file.type = NOTIFY_FILE_READY;
  file.fileType = 4;
  dispatcher.raise(file);
  EXPECT_EQ(received.back().fileType, 4);

  // Without a callback events are dropped.
  dispatcher.setCallback(nullptr, nullptr);
  const size_t before = received.size();
  dispatcher.raise(file);
  EXPECT_EQ(received.size(), before);
}

}  // namespace
}  // namespace ksplugs
