// A fresh module and platform for each test.
#pragma once

#include <gtest/gtest.h>

#include "keying/bit_clock.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "shell/exports.h"
#include "shell/fsk_keyer.h"

class DriverTest : public ::testing::Test {
 public:
  void SetUp() override { ResetModule(); }
  void TearDown() override {
    extfskClose();
    sim::StopRealTime();
    // A closed driver holds nothing of the platform's and never misused it.
    EXPECT_EQ(sim::OpenHidHandles().Total(), 0);
    EXPECT_EQ(sim::HidMisuses(), std::vector<std::string>{});
  }

  // As if the module had just been loaded into a fresh process.
  static void ResetModule() {
    extfskClose();
    sim::Reset();
    framing = Framing{};
    activeKeyer = nullptr;
  }

  static uint8_t PortBits() {
    plat::LockGuard guard(keyerLock);
    return activeKeyer != nullptr ? activeKeyer->portBits() : 0;
  }

  static void SetWiring(bool reverse, bool pin3) {
    plat::LockGuard guard(keyerLock);
    activeKeyer->fskReverse = reverse;
    activeKeyer->fskOnPin3 = pin3;
  }
};
