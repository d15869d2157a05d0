#include "plugin/api/NotifyDispatcher.h"

#include <gtest/gtest.h>

#include <vector>

#include "plugin/api/PluginGlobals.h"
#include "plugin/api/SdkResult.h"

namespace ksplugs {
namespace {

std::vector<NotifyEvent> received;
int record(const NotifyEvent* event, void*) {
  received.push_back(*event);
  return 0;
}

TEST(NotifyDispatcher, RewritesDeviceStreamCodes) {
  received.clear();
  PluginGlobals::instance().setNotify(record, nullptr);
  for (const auto& [device, page] : std::vector<std::pair<int, int>>{{1, 1}, {4, 2}, {5, 3}, {7, 7}}) {
    NotifyEvent switched{};
    switched.type = NOTIFY_STREAM_SWITCHED;
    switched.switchedStream = device;
    raiseEvent(switched);
    EXPECT_EQ(received.back().switchedStream, page);
    NotifyEvent bitrate{};
    bitrate.type = NOTIFY_BITRATE;
    bitrate.enable = 1;
    bitrate.bitrateStream = device;
    raiseEvent(bitrate);
    EXPECT_EQ(received.back().bitrateStream, page);
    EXPECT_EQ(received.back().enable, 1);
  }
  // Other types are passed untouched.
  NotifyEvent file{};
  file.type = NOTIFY_FILE_READY;
  file.fileType = 4;
  raiseEvent(file);
  EXPECT_EQ(received.back().fileType, 4);

  // Without a callback events are dropped.
  PluginGlobals::instance().setNotify(nullptr, nullptr);
  const size_t before = received.size();
  raiseEvent(file);
  EXPECT_EQ(received.size(), before);
}

TEST(SdkResult, TableAndFallback) {
  EXPECT_EQ(MapSdkResult(0), 0);
  EXPECT_EQ(MapSdkResult(21), 3001);
  EXPECT_EQ(MapSdkResult(22), 3001);
  EXPECT_EQ(MapSdkResult(14), 3002);
  EXPECT_EQ(MapSdkResult(9), 1014);
  EXPECT_EQ(MapSdkResult(25), 3008);
  EXPECT_EQ(MapSdkResult(10203), 3006);
  EXPECT_EQ(MapSdkResult(16007), 1015);
  EXPECT_EQ(MapSdkResult(12345), 1013);
  EXPECT_EQ(MapSdkResult(-1), 1013);
}

}  // namespace
}  // namespace ksplugs
