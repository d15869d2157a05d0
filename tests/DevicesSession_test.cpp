// Device sessions against the device simulator over real TCP: login on
// demand, logout, talk, the result codes of failed logins, and how the
// registry's teardown and silencing reach a logged-in device.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/devlink/DevLinkSdk.h"
#include "plugin/device/DeviceRegistry.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/testing/CreateRecord.h"
#include "plugin/video/playback/RecordedStream.h"
#include "tests/support/Settle.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using ksplugs::DeviceRef;
using ksplugs::DeviceRegistry;
using ksplugs::RecordedStream;
using ksplugs::testing::CreateRecord;
using WebPlug_NCL::CDVSDevice;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

class DevicesSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    DLSDK_StartUp();
    // Keep failed requests short; a hang would show as a time-out code.
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 3000);
  }

  void SetUp() override {
    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    options.channels = 2;
    options.accounts = {{"admin", "secret", false}, {"viewer", "view", true}};
    server_ = std::make_unique<devsim::DevSimServer>(options);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
  }
  void TearDown() override { server_->stop(); }

  // A session copied from a record aimed at the simulator.
  std::unique_ptr<CDVSDevice> session(const std::string& user = "admin", const std::string& password = "secret",
                                      uint16_t port = 0) {
    CreateRecord record("00:11:22:33:44:55", port != 0 ? port : server_->commandPort(), server_->mediaPort(), 2, 1,
                        user, password);
    auto device = std::make_unique<CDVSDevice>();
    device->copyFrom(record.param);
    return device;
  }

  std::unique_ptr<devsim::DevSimServer> server_;
};

TEST_F(DevicesSession, LogsInOnceAndOutAgain) {
  auto device = session();
  ASSERT_EQ(device->login(), KS_OK);
  EXPECT_NE(device->loginHandle(), -1);
  const int32_t handle = device->loginHandle();
  EXPECT_EQ(device->login(), KS_OK);  // logged in already: no second login
  EXPECT_EQ(device->loginHandle(), handle);
  EXPECT_EQ(server_->sessionCount(), 1);

  EXPECT_EQ(device->logout(), KS_OK);
  EXPECT_EQ(device->loginHandle(), -1);
  EXPECT_TRUE(eventually([&] { return server_->sessionCount() == 0; }));
  EXPECT_EQ(device->logout(), KS_OK);
  // The next command logs in again.
  EXPECT_EQ(device->login(), KS_OK);
  EXPECT_EQ(server_->sessionCount(), 1);
  device->logout();
}

TEST_F(DevicesSession, ConcurrentLoginsMakeOneSession) {
  auto device = session();
  std::vector<std::thread> pages;
  std::atomic<int> failures{0};
  for (int i = 0; i < 4; ++i) {
    pages.emplace_back([&] {
      if (device->login() != KS_OK) ++failures;
    });
  }
  for (auto& page : pages) page.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(server_->sessionCount(), 1);
  device->logout();
}

TEST_F(DevicesSession, RejectedLoginsAnswerTheMappedCode) {
  auto wrongPassword = session("admin", "wrong");
  EXPECT_EQ(wrongPassword->login(), KS_E_AUTH);  // device code 21
  EXPECT_EQ(wrongPassword->loginHandle(), -1);
  auto unknownUser = session("nobody", "x");
  EXPECT_EQ(unknownUser->login(), KS_E_AUTH);  // device code 22
  EXPECT_EQ(server_->sessionCount(), 0);
}

TEST_F(DevicesSession, ALoginFailingForNoSpecificReasonIsAFailedLogin) {
  // Something listens on the port but does not speak the device protocol:
  // the SDK reports a protocol failure, which has no code of its own.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread stranger([listener] {
    const int peer = accept(listener, nullptr, nullptr);
    if (peer < 0) return;
    const char junk[64] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    (void)!write(peer, junk, sizeof junk);
    char sink[256];
    while (read(peer, sink, sizeof sink) > 0) {
    }
    close(peer);
  });
  auto device = session("admin", "secret", ntohs(address.sin_port));
  EXPECT_EQ(device->login(), KS_E_LOGIN);
  EXPECT_EQ(device->loginHandle(), -1);
  shutdown(listener, SHUT_RDWR);
  close(listener);
  stranger.join();
}

TEST_F(DevicesSession, TalkStartsStopsAndNeverLeavesAHalfOpenChannel) {
  auto device = session();
  EXPECT_EQ(device->talkStart(DLSDK_TALK_G711A), KS_E_INVALID);  // not logged in
  ASSERT_EQ(device->login(), KS_OK);

  // A codec the device does not support: nothing stays open.
  EXPECT_EQ(device->talkStart(DLSDK_TALK_AAC), KS_E_NOT_SUPPORTED);
  EXPECT_FALSE(device->talkActive());

  ASSERT_EQ(device->talkStart(DLSDK_TALK_G711A), KS_OK);
  EXPECT_TRUE(device->talkActive());
  const int32_t handle = device->talkHandle();
  EXPECT_EQ(device->talkStart(DLSDK_TALK_G711U), KS_OK);  // running already
  EXPECT_EQ(device->talkHandle(), handle);
  // Started talk sends (silence) to the device.
  EXPECT_TRUE(eventually([&] { return server_->talkBytes() > 0; }));

  EXPECT_EQ(device->talkStop(), KS_OK);
  EXPECT_FALSE(device->talkActive());
  // What was on the way arrives, then nothing more.
  EXPECT_TRUE(kstest::settles([&] { return server_->talkBytes(); }, 300ms));
  EXPECT_EQ(device->talkStop(), KS_OK);
  device->logout();
}

TEST_F(DevicesSession, AnAccountWithoutTalkRightsGetsTheDevicesCode) {
  auto device = session("viewer", "view");
  ASSERT_EQ(device->login(), KS_OK);
  EXPECT_EQ(device->talkStart(DLSDK_TALK_G711A), KS_E_SDK_3005);  // device code 35: no permission
  EXPECT_FALSE(device->talkActive());
  device->logout();
}

// The registry side: a logged-in device is logged out when it is torn down,
// which waits for the last command that holds it.
TEST_F(DevicesSession, TeardownLogsOutWhenTheLastCommandEnds) {
  ksplugs::testing::ScopedTempDir temp;
  auto registry = DeviceRegistry::make();
  CreateRecord record("00:11:22:33:44:55", server_->commandPort(), server_->mediaPort(), 2, 1, "admin", "secret");
  ASSERT_EQ(registry->create(record.param), KS_OK);
  const uint32_t id = record.param.uniqueId;

  DeviceRef command = registry->findById(id);
  ASSERT_EQ(command->session().login(), KS_OK);
  ASSERT_EQ(command->session().talkStart(DLSDK_TALK_G711A), KS_OK);
  registry->destroy(registry->findById(id));
  EXPECT_EQ(server_->sessionCount(), 1);  // the command still runs on it
  EXPECT_TRUE(command->session().talkActive());

  command.reset();
  EXPECT_EQ(registry->listedCount(), 0u);
  EXPECT_TRUE(eventually([&] { return server_->sessionCount() == 0; }));
}

// A device logged in without its live view (as a download logs in) has no
// cell to record: 1003, as for a channel it does not have; without a login 1009.
TEST_F(DevicesSession, RecordingNeedsALiveCell) {
  ksplugs::testing::ScopedTempDir temp;
  auto registry = DeviceRegistry::make();
  CreateRecord record("00:11:22:33:44:56", server_->commandPort(), server_->mediaPort(), 2, 1, "admin", "secret");
  ASSERT_EQ(registry->create(record.param), KS_OK);
  DeviceRef ref = registry->findById(record.param.uniqueId);
  char path[260] = "untouched";
  StreamRecordParam param{};
  param.start = 1;
  param.path = path;
  EXPECT_EQ(ref->streamRecord(param), KS_E_NOT_READY);
  ASSERT_EQ(ref->session().login(), KS_OK);
  for (int channel : {0, 1, 2, -1}) {
    param.channel = channel;
    EXPECT_EQ(ref->streamRecord(param), KS_E_CHANNEL) << channel;
  }
  param.start = 0;
  param.channel = 0;
  EXPECT_EQ(ref->streamRecord(param), KS_E_CHANNEL);
  registry->shutdown();
}

TEST_F(DevicesSession, SilenceStopsTalkOnEveryDevice) {
  auto registry = DeviceRegistry::make();
  std::vector<uint32_t> ids;
  for (int i = 0; i < 2; ++i) {
    CreateRecord record("dev" + std::to_string(i), server_->commandPort(), server_->mediaPort(), 2, 1, "admin",
                        "secret");
    ASSERT_EQ(registry->create(record.param), KS_OK);
    ids.push_back(record.param.uniqueId);
    DeviceRef ref = registry->findById(record.param.uniqueId);
    ASSERT_EQ(ref->session().login(), KS_OK);
    ASSERT_EQ(ref->session().talkStart(DLSDK_TALK_G711A), KS_OK);
  }
  registry->silenceAll();
  for (uint32_t id : ids) {
    DeviceRef ref = registry->findById(id);
    EXPECT_FALSE(ref->session().talkActive());
    EXPECT_NE(ref->session().loginHandle(), -1);  // silencing keeps the login
  }
  registry->shutdown();  // tears both down: logged out
  EXPECT_TRUE(eventually([&] { return server_->sessionCount() == 0; }));
}

}  // namespace

// A recorded stream whose play call fails is destroyed again and answers
// the play call's code: it never reads as playing.
TEST_F(DevicesSession, ARecordedStreamThatCannotPlayIsNotKept) {
  auto device = session();
  ASSERT_EQ(device->login(), KS_OK);
  const SystemTime day{2024, 5, 1, 6, 10, 0, 0, 0};
  RecordedStream stream;
  // No window has this handle, so the play call fails.
  constexpr ui::HWND kNoWindow = 0x7FFF0123;
  EXPECT_EQ(stream.open(device.get(), 0, day, 63, false, kNoWindow), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_FALSE(stream.isOpen());
  EXPECT_TRUE(eventually([&] { return server_->streamCount() == 0; }));

  // Closed, every operation is refused and the caller's time is untouched.
  SystemTime out{1, 2, 3, 4, 5, 6, 7, 8};
  const SystemTime before = out;
  EXPECT_EQ(stream.getTime(out), RecordedStream::kNotOpen);
  EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
  EXPECT_EQ(stream.seek(day), RecordedStream::kNotOpen);
  EXPECT_EQ(stream.step(false), RecordedStream::kNotOpen);
  EXPECT_EQ(stream.setSound(true), RecordedStream::kNotOpen);
  EXPECT_EQ(stream.snapshot("/tmp/x.bmp"), RecordedStream::kNotOpen);

  // A time that is no calendar time opens nothing.
  const SystemTime february30{2024, 2, 5, 30, 10, 0, 0, 0};
  EXPECT_EQ(stream.open(device.get(), 0, february30, 63, false, 0), RecordedStream::kNotOpen);
  EXPECT_EQ(server_->streamCount(), 0);

  // Opened for drawing nowhere, it plays; the time before the first frame
  // is the one asked for, with day of week and milliseconds left alone.
  ASSERT_EQ(stream.open(device.get(), 1, day, 63, false, 0), 0);
  EXPECT_TRUE(stream.isOpen());
  EXPECT_EQ(stream.channel(), 1);
  ASSERT_EQ(stream.getTime(out), 0);
  EXPECT_EQ(out.year, 2024);
  EXPECT_EQ(out.month, 5);
  EXPECT_EQ(out.day, 6);
  EXPECT_EQ(out.hour, 10);
  EXPECT_EQ(out.dayOfWeek, 3);
  EXPECT_EQ(out.milliseconds, 8);
  EXPECT_EQ(stream.close(), 0);
  EXPECT_FALSE(stream.isOpen());

  // Alarm recordings: the device has none, so no frame ever comes. The
  // position is then the time last asked for, never a time of zero.
  ASSERT_EQ(stream.open(device.get(), 0, day, 4, false, 0), 0);
  SystemTime none{};
  ASSERT_EQ(stream.getTime(none), 0);
  EXPECT_EQ((std::array<int, 6>{none.year, none.month, none.day, none.hour, none.minute, none.second}),
            (std::array<int, 6>{2024, 5, 6, 10, 0, 0}));
  ASSERT_EQ(stream.seek(SystemTime{2024, 5, 1, 6, 15, 30, 5, 0}), 0);
  ASSERT_EQ(stream.getTime(none), 0);
  EXPECT_EQ((std::array<int, 3>{none.hour, none.minute, none.second}), (std::array<int, 3>{15, 30, 5}));
  stream.close();
  device->logout();
}

TEST(RecordedStreamTimes, CalendarChecksAndTheDaysRequest) {
  struct Case {
    SystemTime time;
    bool valid;
  };
  const Case cases[] = {
      {{2024, 2, 0, 29, 23, 59, 59, 0}, true},  // leap day
      {{2023, 2, 0, 29, 0, 0, 0, 0}, false},    // no leap day
      {{1900, 2, 0, 29, 0, 0, 0, 0}, false},   {{2000, 2, 0, 29, 0, 0, 0, 0}, true},
      {{2024, 13, 0, 1, 0, 0, 0, 0}, false},   {{2024, 4, 0, 31, 0, 0, 0, 0}, false},
      {{2024, 4, 0, 30, 24, 0, 0, 0}, false},  {{2024, 4, 0, 30, 0, 60, 0, 0}, false},
      {{0, 0, 0, 0, 0, 0, 0, 0}, false},       {{1969, 12, 0, 31, 0, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.time.year << "-" << c.time.month << "-" << c.time.day << " " << c.time.hour
                                      << ":" << c.time.minute);
    EXPECT_EQ(RecordedStream::validTime(c.time), c.valid);
  }

  // The SDK's seconds are broken down as UTC, whatever the zone.
  SystemTime out{};
  ASSERT_TRUE(RecordedStream::fromSeconds(1714989600, out));  // 2024-05-06 10:00:00 UTC
  EXPECT_EQ((std::array<int, 6>{out.year, out.month, out.day, out.hour, out.minute, out.second}),
            (std::array<int, 6>{2024, 5, 6, 10, 0, 0}));
  EXPECT_FALSE(RecordedStream::fromSeconds(0, out));

  const DLSDK_HistoryStreamRequest r =
      RecordedStream::dayRequest(3, SystemTime{2024, 5, 1, 6, 14, 30, 0, 0}, 8, true, 6066);
  EXPECT_EQ(r.channel, 3);
  EXPECT_EQ(
      (std::array<int, 6>{r.start.year, r.start.month, r.start.day, r.start.hour, r.start.minute, r.start.second}),
      (std::array<int, 6>{2024, 5, 6, 0, 0, 0}));
  EXPECT_EQ((std::array<int, 3>{r.end.hour, r.end.minute, r.end.second}), (std::array<int, 3>{23, 59, 59}));
  EXPECT_EQ(r.typeMask, 8);
  EXPECT_EQ(r.subStream, 0);
  EXPECT_EQ(r.mediaPort, 6066);
  EXPECT_EQ(RecordedStream::dayRequest(0, SystemTime{2024, 5, 1, 6, 0, 0, 0, 0}, 63, false, 1).subStream, 1);
}
