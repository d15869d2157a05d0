#pragma once
// Test helpers for the window layer: a fixture with the headless desktop
// installed and the shared watchdog, so a hung test fails instead of hanging.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "platform/ui/backends/HeadlessDesktop.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "tests/support/Watchdog.h"

namespace ui::test {

// Fails a hung threaded test fast and says where.
using Watchdog = kstest::Watchdog;

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<HeadlessDesktop>();
    desktop_ = backend.get();
    ASSERT_TRUE(WindowSystem::install(std::move(backend)));
  }
  void TearDown() override {
    pumpPendingMessages();
    WindowSystem::uninstall();
  }
  // Pumps this thread's messages until cond holds (at most 5 s).
  bool pumpUntil(const std::function<bool()>& cond) {
    return pumpMessagesUntil(cond, std::chrono::seconds(5));
  }

  HeadlessDesktop* desktop_ = nullptr;
  Watchdog watchdog_{std::chrono::seconds(30)};
};

}  // namespace ui::test
