// A fresh module and platform for each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "keying/bit_clock.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "shell/exports.h"
#include "shell/fsk_keyer.h"
#include "shell/lifecycle.h"

class DriverTest : public ::testing::Test {
 public:
  void SetUp() override {
    EnterScratchDirectory();
    ResetModule();
  }
  void TearDown() override {
    extfskClose();
    sim::StopRealTime();
    // A closed driver holds nothing of the platform's and never misused it.
    EXPECT_EQ(sim::Box()->OpenHandles().Total(), 0);
    EXPECT_EQ(sim::LiveAllocations(), 0);
    EXPECT_EQ(sim::Box()->Breaches(), std::vector<std::string>{});
    // On Windows the host would have died.
    EXPECT_EQ(sim::CallbacksIntoAFreedTrampoline(), 0u);
    LeaveScratchDirectory();
  }

  // As if the module had just been loaded into a fresh process.
  static void ResetModule() {
    extfskClose();
    sim::Reset();
    ResetClockState();
    BeginModuleLife();
  }

  static uint8_t PortBits() {
    KeyerGuard guard;
    return activeKeyer != nullptr ? activeKeyer->portBits() : 0;
  }

  static void SetWiring(bool reverse, bool pin3) {
    KeyerGuard guard;
    activeKeyer->fskReverse = reverse;
    activeKeyer->fskOnPin3 = pin3;
  }

 private:
  // The settings file is opened by bare name: every test runs in a fresh,
  // empty current directory of its own.
  void EnterScratchDirectory() {
    home_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvokey-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
    std::filesystem::current_path(scratch_);
  }
  void LeaveScratchDirectory() {
    if (scratch_.empty()) return;
    std::filesystem::current_path(home_);
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  std::filesystem::path home_;
  std::filesystem::path scratch_;
};
