#pragma once
// A dispatcher wired to a ScriptedPlugin, for handler tests that go through
// the real envelope: send JSON text in, read the reply text out.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <string>
#include <vector>

#include "shell/command/Dispatcher.h"
#include "shell/command/ShellState.h"
#include "shell/command/testing/ScriptedPlugin.h"

namespace kestrova::testing {

class DispatchFixture : public ::testing::Test {
 protected:
  DispatchFixture() : dispatcher_(makeEnv()) {
    shellState().upgradePending = false;
    shellState().dpiRadio = 100;
  }

  CommandEnv makeEnv() {
    CommandEnv env;
    env.plugin = &ScriptedPlugin::api();
    env.createDock = [this](int type, void* record) {
      dockRequests.emplace_back(type, record);
      return dockResult;
    };
    return env;
  }

  // Sends one message as connection 5 from port 40000 and answers the reply.
  std::string send(const std::string& text, int32_t connectionId = 5, int32_t clientPort = 40000) {
    std::string reply;
    lastResult = dispatcher_.dispatch(text.c_str(), text.size(), connectionId, clientPort, reply);
    return reply;
  }

  // The reply parsed, for tests that check one member.
  Json::Value sendParsed(const std::string& text) {
    const std::string reply = send(text);
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(reply);
    EXPECT_TRUE(Json::parseFromStream(builder, in, &value, &errors)) << reply;
    return value;
  }

  static std::string standardReply(int code, uint32_t msgId) {
    return "{\n   \"code\" : " + std::to_string(code) + ",\n   \"msgId\" : " + std::to_string(msgId) + "\n}\n";
  }

  ScriptedPlugin plugin;
  Dispatcher dispatcher_;
  std::vector<std::pair<int, void*>> dockRequests;
  int dockResult = 0;
  int lastResult = 0;
};

}  // namespace kestrova::testing
