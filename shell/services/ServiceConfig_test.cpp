// The environment as the shell reads it: every KESTROVA_ variable of the
// services and of the page's WebSocket server, with the texts a user may get
// wrong.
#include "shell/services/ServiceConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {
namespace {

// Sets or clears one variable and puts the old value back at the end.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

int32_t portFor(const char* text) {
  ScopedEnv port("KESTROVA_WS_PORT", text);
  return ServiceConfig::fromEnvironment().wsPort;
}

TEST(ServiceConfig, ServerPortIsTheDefaultOrANumberUpTo65535) {
  EXPECT_EQ(portFor(nullptr), 32858);
  EXPECT_EQ(portFor("40123"), 40123);
  EXPECT_EQ(portFor("0"), 0);
  EXPECT_EQ(portFor("65535"), 65535);
  // Anything else is no port, and the server is not started on the default.
  for (const char* bad : {"not-a-port", "65536", "", "-1", " 80", "80 ", "80x", "+80", "99999999999"}) {
    EXPECT_EQ(portFor(bad), -1) << '"' << bad << '"';
  }
}

TEST(ServiceConfig, OriginListIsReadFromTheEnvironment) {
  EXPECT_EQ(ServiceConfig::parseOriginList(" http://a , ,http://b:81,"),
            (std::vector<std::string>{"http://a", "http://b:81"}));
  EXPECT_EQ(ServiceConfig::parseOriginList("\thttp://a\t"), std::vector<std::string>{"http://a"});
  EXPECT_TRUE(ServiceConfig::parseOriginList(" , ").empty());

  {
    ScopedEnv origins("KESTROVA_ALLOWED_ORIGINS", "http://a,http://b");
    EXPECT_EQ(ServiceConfig::fromEnvironment().allowedOrigins, (std::vector<std::string>{"http://a", "http://b"}));
  }
  {  // Set but empty, or unset: every origin.
    ScopedEnv origins("KESTROVA_ALLOWED_ORIGINS", "");
    EXPECT_TRUE(ServiceConfig::fromEnvironment().allowedOrigins.empty());
  }
  ScopedEnv origins("KESTROVA_ALLOWED_ORIGINS", nullptr);
  EXPECT_TRUE(ServiceConfig::fromEnvironment().allowedOrigins.empty());
}

TEST(ServiceConfig, ServiceAddressesAndIntervalOverrideTheDefaults) {
  const ServiceConfig defaults;
  {
    ScopedEnv upgrade("KESTROVA_UPGRADE_SERVER", "http://127.0.0.1:9000//");
    ScopedEnv tts("KESTROVA_TTS_SERVER", "");
    ScopedEnv interval("KESTROVA_UPGRADE_INTERVAL_MS", "250");
    const ServiceConfig config = ServiceConfig::fromEnvironment();
    EXPECT_EQ(config.upgradeServer, "http://127.0.0.1:9000");  // trailing '/' dropped
    EXPECT_EQ(config.ttsServer, defaults.ttsServer);           // empty keeps the default
    EXPECT_EQ(config.upgradeIntervalMs, 250);
  }
  for (const char* bad : {"0", "-5", "10ms", ""}) {
    ScopedEnv interval("KESTROVA_UPGRADE_INTERVAL_MS", bad);
    EXPECT_EQ(ServiceConfig::fromEnvironment().upgradeIntervalMs, defaults.upgradeIntervalMs) << bad;
  }
  {
    ScopedEnv idle("KESTROVA_WS_IDLE_TIMEOUT_MS", "400");
    ScopedEnv limit("KESTROVA_WS_SEND_LIMIT", "4294967296");  // beyond uint32: kept, not wrapped
    EXPECT_EQ(ServiceConfig::fromEnvironment().wsIdleTimeoutMs, 400);
    EXPECT_EQ(ServiceConfig::fromEnvironment().wsSendLimit, defaults.wsSendLimit);
  }
}

}  // namespace
}  // namespace kestrova
