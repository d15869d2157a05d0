#include "plugin/session/CDVSDevice.h"
#include "plugin/session/StreamKind.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/devlink/DevLinkSdk.h"
#include "plugin/session/testing/CreateRecord.h"

namespace WebPlug_NCL {
namespace {

using ksplugs::StreamKind;
using ksplugs::testing::CreateRecord;

TEST(CDVSDevice, CopiesTheRecordAndTakesItsStreamBlock) {
  CreateRecord record("00:1A:2b:3C::x-", 7000, 7001, 3, 42);
  record.param.uniqueId = 5;
  record.param.multilens = 1;
  record.param.protocol = 2;
  std::strcpy(record.param.cert, "certificate");
  std::strcpy(record.param.role, "operator");
  uint8_t* block = record.param.stream;

  CDVSDevice session;
  session.copyFrom(record.param);
  EXPECT_EQ(record.param.stream, nullptr);  // the session owns and frees the block now
  EXPECT_EQ(session.uniqueId(), 5u);
  EXPECT_EQ(session.ownerConnection(), 42u);
  EXPECT_EQ(session.macText(), "00-1A-2b-3C--x-");  // only ':' changes
  EXPECT_EQ(session.address(), "127.0.0.1");
  EXPECT_EQ(session.user(), "admin");
  EXPECT_EQ(session.commandPort(), 7000u);
  EXPECT_EQ(session.mediaPort(), 7001u);
  EXPECT_EQ(session.channelCount(), 3);
  EXPECT_TRUE(session.multilens());
  EXPECT_EQ(session.protocol(), 2u);
  EXPECT_EQ(session.certificate(), "certificate");
  EXPECT_EQ(session.role(), "operator");
  EXPECT_EQ(session.loginHandle(), -1);
  EXPECT_FALSE(session.talkActive());

  block[2] = 5;
  EXPECT_EQ(session.streamOf(0), 1);
  EXPECT_EQ(session.streamOf(1), 2);
  EXPECT_EQ(session.streamOf(2), 5);
  EXPECT_EQ(session.streamOf(3), CDVSDevice::kDefaultStream);  // index equal to the channel count
  EXPECT_EQ(session.streamOf(-1), CDVSDevice::kDefaultStream);

  EXPECT_EQ(session.menuText(0x8011), u"Show bitrate");
  EXPECT_EQ(session.menuText(0x8015), u"Main stream");
  EXPECT_EQ(session.menuText(0x8016), u"Sub stream");
  EXPECT_EQ(session.menuText(0x8017), u"Third stream");
  EXPECT_EQ(session.menuText(0x8012), u"");

  session.updateOwner(0);
  EXPECT_EQ(session.ownerConnection(), 42u);
  session.updateOwner(9);
  EXPECT_EQ(session.ownerConnection(), 9u);
}

TEST(CDVSDevice, UnterminatedFieldsStopAtTheirWidth) {
  CreateRecord record("m", 1, 1, 0);
  std::memset(record.param.MAC, 'A', sizeof record.param.MAC);
  std::memset(record.param.usr, 'u', sizeof record.param.usr);
  for (char16_t& unit : record.param.resThirdStream) unit = u'T';
  CDVSDevice session;
  session.copyFrom(record.param);
  EXPECT_EQ(session.macText(), std::string(sizeof record.param.MAC, 'A'));
  EXPECT_EQ(session.user(), std::string(sizeof record.param.usr, 'u'));
  EXPECT_EQ(session.menuText(StreamKind::kMenuThird).size(), 64u);
  EXPECT_EQ(session.streamOf(0), CDVSDevice::kDefaultStream);  // no channels at all
}

TEST(CDVSDevice, NoTalkWithoutLoginAndLogoutAlwaysSucceeds) {
  CDVSDevice session;
  EXPECT_EQ(session.talkStart(DLSDK_TALK_G711A), KS_E_INVALID);
  EXPECT_FALSE(session.talkActive());
  EXPECT_EQ(session.talkStop(), KS_OK);
  EXPECT_EQ(session.logout(), KS_OK);
  EXPECT_EQ(session.user(), "admin");  // the default before a record is copied
}

TEST(CDVSDevice, LoginToAClosedPortIsAConnectionFailure) {
  DLSDK_StartUp();
  // A port that was free a moment ago refuses the connection.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);

  CreateRecord record("m", ntohs(address.sin_port), 1);
  CDVSDevice session;
  session.copyFrom(record.param);
  EXPECT_EQ(session.login(), KS_E_CONNECT);
  EXPECT_EQ(session.loginHandle(), -1);
}

}  // namespace
}  // namespace WebPlug_NCL
