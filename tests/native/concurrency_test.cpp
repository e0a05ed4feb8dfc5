// The host's threads against real ticks on the simulated timer thread. Run
// under ThreadSanitizer by the tsan preset.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fixture.h"
#include "status/status_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The worker thread's loop, as the host runs it: wait while busy, then hand
// over the next character.
void FeedCharacters(const std::atomic<bool>& stop) {
  int character = 0;
  while (!stop) {
    if (extfskIsTxBusy() == 1) {
      SleepMs(1);
      continue;
    }
    extfskPutChar(character++ & 0x1F);
    SleepMs(10);
  }
}

}  // namespace

TEST_F(DriverTest, PttOffIsNeverUndoneByARunningTick) {
  // Each report copies the line byte the host's thread changes, then takes a
  // while to write: plenty of room for the two to meet.
  sim::AttachBox();
  sim::Box()->StallNextWrites(sim::kEveryWrite, 5);
  sim::StartRealTime();
  ASSERT_EQ(extfskOpen(0), 1);
  std::atomic<bool> stop{false};
  std::thread worker(FeedCharacters, std::cref(stop));

  const auto end = Clock::now() + std::chrono::milliseconds(1500);
  int rounds = 0;
  while (Clock::now() < end) {
    const int on = extfskSetPTT(1);
    EXPECT_EQ(on & 0x02, 0) << "PTT line shorted";
    SleepMs(rounds % 7);
    EXPECT_EQ(extfskSetPTT(0), 0x0F);
    // Ticks keep running with characters in flight; none may key again.
    SleepMs(25);
    EXPECT_EQ(PortBits(), 0x0F) << "round " << rounds;
    ++rounds;
  }
  stop = true;
  worker.join();
  EXPECT_GT(sim::CallbacksRun(), 30u) << "ticks ran meanwhile";
}

TEST_F(DriverTest, OpenAndCloseWhileTicksRunNeverLeaveATick) {
  sim::AttachBox();
  sim::StartRealTime();
  ASSERT_EQ(extfskOpen(0), 1);
  std::atomic<bool> stop{false};
  std::thread worker(FeedCharacters, std::cref(stop));
  std::thread ptt([&stop] {
    while (!stop) {
      extfskSetPTT(1);
      SleepMs(3);
      extfskSetPTT(0);
    }
  });

  // A monitor reads the status sections all the while, as the check program
  // does from its own process: every record it reads whole is consistent.
  std::atomic<int> wholeReads{0};
  std::thread monitor([&stop, &wholeReads] {
    while (!stop) {
      for (const sim::StatusSection& section : sim::StatusSections()) {
        const status::ReadResult read = status::Read(section.view, section.bytes, 4242);
        if (read.problem != status::Problem::None) continue;
        // One report for each tick, and the first before the clock.
        const uint64_t reports = read.record.reportsWritten + read.record.reportsFailed;
        const uint64_t ticks = status::TickCount(read.record);
        EXPECT_TRUE(reports == ticks || reports == ticks + 1) << reports << " " << ticks;
        ++wholeReads;
      }
      SleepMs(1);
    }
  });

  for (int i = 0; i < 40; ++i) {
    if (i % 3 == 0) extfskClose();
    ASSERT_EQ(extfskOpen(0), 1);
    SleepMs(i % 25);  // sometimes mid-tick, sometimes between ticks
  }
  stop = true;
  worker.join();
  ptt.join();
  monitor.join();
  EXPECT_GT(wholeReads, 0);

  extfskClose();
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
  EXPECT_EQ(sim::ResolutionRequests(), 0);
  const uint64_t ran = sim::CallbacksRun();
  SleepMs(100);
  EXPECT_EQ(sim::CallbacksRun(), ran) << "a tick ran after destruction";
  EXPECT_EQ(sim::MaxConcurrentCallbacks(), 1);
}

TEST_F(DriverTest, CloseFromOneThreadWhileAnotherOpens) {
  sim::StartRealTime();
  std::atomic<bool> stop{false};
  std::thread closer([&stop] {
    while (!stop) {
      extfskClose();
      SleepMs(2);
    }
  });
  for (int i = 0; i < 30; ++i) {
    extfskOpen(0);
    EXPECT_LE(sim::ResolutionRequests(), 1) << "two instances at once";
    extfskIsTxBusy();
    extfskPutChar(i);
    SleepMs(5);
  }
  stop = true;
  closer.join();
  extfskClose();
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
  EXPECT_EQ(sim::ResolutionRequests(), 0);
}
