// Module load and unload on the simulated platform.
#include <iconv.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"
#include "platform/sim/sim_power.h"
#include "platform/sim/sim_prompt.h"
#include "platform/sim/sim_version.h"
#include "shell/module_entry.h"

namespace {

// The system's converter, not hand-written bytes, says what Shift_JIS is.
std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "no CP932 converter";
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string in = utf8;
  std::string out(in.size() * 2, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  EXPECT_NE(converted, static_cast<size_t>(-1)) << "not convertible to CP932";
  out.resize(out.size() - outLeft);
  return out;
}

constexpr plat::OsVersion kWindows95{4, 0, 950, plat::kPlatformWin32Windows};
constexpr plat::OsVersion kNt4{4, 0, 1381, plat::kPlatformWin32Nt};

const std::vector<uint32_t> kExtendedOnly = {plat::kOsVersionInfoExSize};
const std::vector<uint32_t> kExtendedThenBasic = {plat::kOsVersionInfoExSize,
                                                  plat::kOsVersionInfoSize};

// Runs f on another thread; false if it has not returned within the bound,
// after calling unstick so that it can.
template <typename F, typename U>
bool ReturnsWithin(std::chrono::milliseconds bound, F f, U unstick) {
  auto done = std::async(std::launch::async, f);
  if (done.wait_for(bound) == std::future_status::ready) return true;
  unstick();
  done.wait();
  return false;
}

// Trace lines from the first-th on, each cut to its label (error texts vary).
std::vector<std::string> TraceLabelsSince(size_t first) {
  const auto lines = sim::TraceLines();
  std::vector<std::string> labels;
  for (size_t i = first; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(": ");
    labels.push_back(colon == std::string::npos ? lines[i] : lines[i].substr(0, colon + 2));
  }
  return labels;
}

}  // namespace

class ModuleTest : public DriverTest {
 public:
  void SetUp() override { DriverTest::SetUp(); }

  static FskKeyer* OpenAndRun() {
    EXPECT_EQ(extfskOpen(0x002D0016), 1);
    extfskSetPTT(1);
    extfskIsTxBusy();
    extfskPutChar(0x13);
    sim::AdvanceMs(50);
    KeyerGuard guard;
    return activeKeyer;
  }
};

TEST_F(ModuleTest, WarnsOnWindows95AloneAndLoadsEverywhere) {
  struct Case {
    const char* name;
    plat::OsVersion version;
    bool extendedRecord;
    bool warns;
  };
  const Case cases[] = {
      {"Windows 95", kWindows95, false, true},
      {"Windows 95 with the extended record", kWindows95, true, true},
      {"Windows 98", {4, 10, 1998, plat::kPlatformWin32Windows}, false, false},
      {"Windows Me", {4, 90, 3000, plat::kPlatformWin32Windows}, false, false},
      {"NT 4.0 before SP6", kNt4, false, false},
      {"NT 4.0 SP6", kNt4, true, false},
      {"Windows 10", {10, 0, 19045, plat::kPlatformWin32Nt}, true, false},
      {"4.0 on platform 0", {4, 0, 0, 0}, true, false},
  };
  static int notAnInstance;
  FskKeyer* const stale = reinterpret_cast<FskKeyer*>(&notAnInstance);  // never dereferenced
  for (const Case& c : cases) {
    ResetModule();
    sim::SetVersion(c.version, c.extendedRecord);
    activeKeyer = stale;

    EXPECT_TRUE(ModuleAttach()) << c.name;
    const bool cleared = activeKeyer == nullptr;
    activeKeyer = nullptr;
    EXPECT_TRUE(cleared) << c.name;
    EXPECT_EQ(sim::PromptsShown().size(), c.warns ? 1u : 0u) << c.name;
    EXPECT_EQ(sim::VersionQuerySizes(), c.extendedRecord ? kExtendedOnly : kExtendedThenBasic)
        << c.name;
  }
}

TEST_F(ModuleTest, Windows95WarningIsShiftJisWithOkAndWarningIcon) {
  sim::SetVersion(kWindows95, false);
  ASSERT_TRUE(ModuleAttach());
  const std::vector<sim::Prompt> boxes = sim::PromptsShown();
  ASSERT_EQ(boxes.size(), 1u);
  const std::string expected = ToCp932(u8"TARVOKEYはWindows95では動作しません。");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(boxes[0].text, expected);
  EXPECT_EQ(boxes[0].caption, "EXTFSK");
  EXPECT_EQ(boxes[0].style, plat::kMbOk | plat::kMbIconWarning);
  EXPECT_EQ(boxes[0].style, 0x30u) << "MB_OK | MB_ICONWARNING";
}

TEST_F(ModuleTest, RefusesTheLoadWhenNoVersionQuerySucceeds) {
  sim::SetVersion(kWindows95, false);
  sim::FailVersionQueries();
  EXPECT_FALSE(ModuleAttach());
  EXPECT_EQ(sim::VersionQuerySizes(), kExtendedThenBasic);
  EXPECT_TRUE(sim::PromptsShown().empty());

  // The loader follows a refused attach with a detach: nothing is open.
  sim::ClearTrace();
  ModuleDetach(false);
  EXPECT_TRUE(sim::TraceLines().empty());
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
}

TEST_F(ModuleTest, DetachTearsDownAnInstanceTheHostLeftOpen) {
  for (const bool processExiting : {false, true}) {
    for (const bool boxThere : {true, false}) {
      SCOPED_TRACE(processExiting ? "process exit" : "FreeLibrary");
      SCOPED_TRACE(boxThere ? "box open" : "no box");
      ResetModule();
      if (boxThere) sim::AttachBox(9);
      ASSERT_TRUE(ModuleAttach());
      ASSERT_NE(OpenAndRun(), nullptr);
      if (boxThere) {
        ASSERT_NE(sim::HidReports().back().bytes[2], 0x0F) << "the lines are keyed";
      }
      const size_t before = sim::TraceLines().size();
      const int enumerations = sim::Box()->Counts().discoveries;

      ModuleDetach(processExiting);

      EXPECT_EQ(activeKeyer, nullptr);
      // The release report goes out if the box is open, then both handles are
      // closed; no discovery is started at unload, box or not.
      std::vector<std::string> expected = {
          "***HID Test Report***", "CloseHandle(DeviceHandle): ", "CloseHandle(ReadHandle): "};
      if (boxThere) expected.insert(expected.begin() + 1, {"WriteFile: ", "Bytes Written: "});
      EXPECT_EQ(TraceLabelsSince(before), expected);
      EXPECT_EQ(sim::Box()->Counts().discoveries, enumerations);
      if (boxThere) {
        const std::vector<uint8_t> release = {0x00, 0x01, 0x0F, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(sim::HidReports().back().bytes, release);
      }
      EXPECT_EQ(sim::Box()->OpenHandles().Total(), 0);
      if (processExiting) {
        // winmm is not called: the system drops timer and resolution with the
        // process.
        EXPECT_EQ(sim::ResolutionRequests(), 1);
        EXPECT_EQ(sim::ArmedTimerCount(), 1u);
      } else {
        EXPECT_EQ(sim::ResolutionRequests(), 0);
        EXPECT_EQ(sim::ArmedTimerCount(), 0u);
      }
    }
  }
  // The unload mode does not outlive the unload.
  ResetModule();
  ASSERT_EQ(extfskOpen(0), 1);
  extfskClose();
  EXPECT_EQ(sim::ResolutionRequests(), 0);
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
}

TEST_F(ModuleTest, ProcessExitNeitherWaitsForADeadTickNorTakesItsLock) {
  FskKeyer* keyer = OpenAndRun();
  ASSERT_NE(keyer, nullptr);
  // The timer thread was ended in the middle of a tick, holding the lock.
  {
    KeyerGuard guard;
    keyer->tickRunning = true;
  }
  std::promise<void> held, release;
  std::thread dead([&] {
    KeyerGuard guard;
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();

  const bool returned = ReturnsWithin(
      std::chrono::seconds(10), [] { ModuleDetach(true); }, [&] { release.set_value(); });
  if (returned) release.set_value();
  dead.join();

  EXPECT_TRUE(returned) << "process exit waited for a thread that no longer exists";
  EXPECT_EQ(activeKeyer, nullptr);
  EXPECT_EQ(sim::ResolutionRequests(), 1) << "no winmm call at process exit";
  EXPECT_EQ(sim::PowerThrottlingCalls().size(), 1u) << "nor a new one: the request goes too";
}

TEST_F(ModuleTest, FreeLibraryGivesUpOnATickThatNeverEnds) {
  FskKeyer* keyer = OpenAndRun();
  ASSERT_NE(keyer, nullptr);
  {
    KeyerGuard guard;
    keyer->tickRunning = true;  // e.g. waiting for the loader lock we hold
  }
  const size_t before = sim::TraceLines().size();
  const auto start = std::chrono::steady_clock::now();

  const bool returned = ReturnsWithin(
      std::chrono::seconds(10), [] { ModuleDetach(false); },
      [&] {
        KeyerGuard guard;
        keyer->tickRunning = false;
      });
  const auto waited = std::chrono::steady_clock::now() - start;

  EXPECT_TRUE(returned) << "FreeLibrary hung on a tick that never ends";
  // The module counts whole milliseconds: allow for where in one it started.
  EXPECT_GE(waited, std::chrono::milliseconds(kUnloadWaitMs - 2)) << "the tick was not waited for";
  EXPECT_EQ(activeKeyer, nullptr);
  EXPECT_EQ(sim::ArmedTimerCount(), 0u) << "the tick must not re-arm";
  EXPECT_EQ(sim::ResolutionRequests(), 0);
  // The device link still belongs to the tick: it is not touched.
  EXPECT_TRUE(TraceLabelsSince(before).empty());

  // The tick ends after all; the instance it kept is freed here.
  if (returned) {
    {
      KeyerGuard guard;
      keyer->tickRunning = false;
    }
    delete keyer;
  }
}

// A host that forbids making code (Arbitrary Code Guard) refuses the tick's
// trampoline. The module says so and loads; what is lost shows at unload: a
// tick waiting inside the system can no longer be sent back to winmm past the
// module, so the module asks to stay mapped for it (which Windows refuses by
// then).
TEST_F(ModuleTest, WithoutTheTrampolineATickInTheSystemKeepsTheModuleMapped) {
  sim::RefuseTrampoline();
  ASSERT_TRUE(ModuleAttach());
  ASSERT_FALSE(TraceLabelsSince(0).empty());
  EXPECT_EQ(TraceLabelsSince(0).front(), "Trampoline: ");
  sim::StartRealTime();
  ASSERT_EQ(extfskOpen(0), 1);  // no box: every tick looks for it
  FskKeyer* keyer = nullptr;
  {
    KeyerGuard guard;
    keyer = activeKeyer;
  }
  sim::HoldEnumerations();
  ASSERT_TRUE(sim::WaitForHeldEnumeration(5000));

  ModuleDetach(false);
  EXPECT_EQ(sim::ModuleKeptMapped(), 1);
  EXPECT_EQ(extfskOpen(0), 0) << "no clock starts in a module the host has let go";

  sim::ReleaseEnumerations();
  delete keyer;  // the tick kept it; freed once that tick is over
}

TEST_F(ModuleTest, FreeLibraryWhileTheClockRunsOnTheTimerThread) {
  sim::StartRealTime();
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  extfskIsTxBusy();
  extfskPutChar(0x13);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sim::CallbacksRun() < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GE(sim::CallbacksRun(), 4u);

  ModuleDetach(false);

  EXPECT_EQ(activeKeyer, nullptr);
  EXPECT_FALSE(sim::TrampolinePageFreed()) << "no callback seen out under the loader lock";
  EXPECT_EQ(sim::ResolutionRequests(), 0);
  EXPECT_EQ(sim::PowerThrottlingCalls().size(), 2u) << "the timer request is given back";
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(sim::ArmedTimerCount(), 0u) << "a tick re-armed after unload";
  const auto labels = TraceLabelsSince(0);
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.back(), "CloseHandle(ReadHandle): ") << "a tick ran after the teardown";
  EXPECT_EQ(sim::MaxConcurrentCallbacks(), 1);
}

// Polls until the timer thread has left the module's trampoline.
bool TickLeavesTheTrampoline(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (plat::WhereIsTick() != plat::TickPlace::Outside) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// FreeLibrary while a tick waits inside the system. A discovery may wait for
// the very loader lock the unload holds: it is given up on after a short bound.
// A report write needs no loader lock: a stalling box is waited out, up to a
// longer bound. A tick given up on returns to winmm through the trampoline
// without running the module's code, and on its way releases the lines and
// frees what the instance held, and what the call it waited in made. Either way
// nothing stays armed.
struct StuckTick {
  const char* name;
  bool inDiscovery;
  uint32_t writeMs;
  bool waitedOut;
  // A discovery's call that returns only once the tick is given up on, in
  // a box that came after the open (else the enumeration waits).
  const char* stalledCall = nullptr;
};

void PrintTo(const StuckTick& stuck, std::ostream* os) { *os << stuck.name; }

class UnloadDuringATickTest : public ModuleTest, public ::testing::WithParamInterface<StuckTick> {};

TEST_P(UnloadDuringATickTest, FreeLibraryIsBoundedAndTheTickReturnsToWinmm) {
  const StuckTick& stuck = GetParam();
  sim::StartRealTime();
  const int box = stuck.inDiscovery ? -1 : sim::AttachBox(9);
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  extfskIsTxBusy();
  if (stuck.stalledCall != nullptr) {
    sim::StallTickInNextSystemCall(stuck.stalledCall);
    sim::AttachBox(9);
    ASSERT_TRUE(sim::WaitForStalledTick(5000));
  } else if (stuck.inDiscovery) {
    sim::HoldEnumerations();
    ASSERT_TRUE(sim::WaitForHeldEnumeration(5000));
  } else {
    sim::Box()->StallNextWrites(sim::kEveryWrite, stuck.writeMs);
    ASSERT_TRUE(ReturnsWithin(
        std::chrono::seconds(5),
        [] {
          while (plat::WhereIsTick() != plat::TickPlace::InReportWrite) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        },
        [] {}));
  }

  const auto start = std::chrono::steady_clock::now();
  ModuleDetach(false);
  const auto waited = std::chrono::steady_clock::now() - start;
  const size_t traced = sim::TraceLines().size();

  const uint32_t bound = stuck.inDiscovery ? kUnloadWaitMs : kStalledWriteWaitMs;
  EXPECT_LT(waited, std::chrono::milliseconds(bound + 2000)) << "FreeLibrary took too long";
  if (!stuck.waitedOut) {
    EXPECT_GE(waited, std::chrono::milliseconds(bound - 2)) << "the tick was not waited for";
  }
  EXPECT_EQ(activeKeyer, nullptr);
  EXPECT_EQ(sim::ArmedTimerCount(), 0u) << "a tick would run in unmapped code";
  EXPECT_EQ(sim::ResolutionRequests(), 0);

  // The call the tick waits in returns; the tick returns to winmm.
  if (stuck.stalledCall != nullptr) {
    sim::ReleaseStalledTick();
  } else if (stuck.inDiscovery) {
    sim::ReleaseEnumerations();
  }
  if (box >= 0) sim::Box()->StallNextWrites(0, 0);
  ASSERT_TRUE(TickLeavesTheTrampoline(std::chrono::seconds(10)));
  if (!stuck.waitedOut) {
    EXPECT_EQ(sim::TraceLines().size(), traced) << "the module's code ran after the unload";
  }
  if (box >= 0) {
    const std::vector<uint8_t> release = {0x00, 0x01, 0x0F, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(sim::HidReports().back().bytes, release);
  }
  // Handles, sets and memory are checked by the fixture: nothing is left.
}

INSTANTIATE_TEST_SUITE_P(Ticks, UnloadDuringATickTest,
                         ::testing::Values(StuckTick{"DiscoveryBehindTheLoaderLock", true, 0,
                                                     false},
                                           StuckTick{"PreparsedDataOfABoxJustFound", true, 0, false,
                                                     "HidD_GetPreparsedData"},
                                           StuckTick{"WriteOfAStallingBox", false, 800, true},
                                           StuckTick{"WriteLongerThanTheBound", false,
                                                     kStalledWriteWaitMs + 600, false}),
                         [](const auto& param) { return std::string(param.param.name); });

// The write a tick waits in fails just as the unload gives up on it, and the
// tick closes the device's handle before the unload parks it there. The
// teardown the tick then runs must not write to that handle or close it again:
// by then its value may be another of the host's handles. The close returns
// while the unload reads the teardown: the tick waits in the call thunk,
// yielding the processor to the unload, which on a PC with one could not go on
// else.
TEST_F(ModuleTest, AnAbandonedTickNeverUsesAHandleItClosedItself) {
  sim::StartRealTime();
  sim::AttachBox(9);
  ASSERT_EQ(extfskOpen(0), 1);
  sim::Box()->FailNextWrites(1);
  sim::Box()->StallNextWrites(1, kStalledWriteWaitMs + 300);
  ASSERT_TRUE(ReturnsWithin(
      std::chrono::seconds(5),
      [] {
        while (plat::WhereIsTick() != plat::TickPlace::InReportWrite) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      },
      [] {}));
  // Between the unload's look at the tick and its abandon, the write returns
  // and the tick goes on into closing the handle.
  sim::StallTickInNextSystemCall();
  sim::OnAbandonTick([] { EXPECT_TRUE(sim::WaitForStalledTick(10000)); });
  sim::WhileTickParked([] {
    sim::ReleaseStalledTick();
    EXPECT_TRUE(sim::ParkedTickWaits(10000));
  });

  ModuleDetach(false);
  EXPECT_EQ(sim::UnloadsStarved(), 0);

  ASSERT_TRUE(TickLeavesTheTrampoline(std::chrono::seconds(10)));
  // Handles, sets, memory and misuse are checked by the fixture.
}

// The host's close then its unload, as MMTTY does: the trampoline's page is
// given back. But a callback the timer thread began before the close, still on
// its way to the trampoline (its timer could not be killed, or was killed too
// late), keeps it: the callback turns back there.
TEST_F(ModuleTest, NoTimerCallbackEntersTheModuleAfterUnload) {
  ASSERT_EQ(extfskOpen(0), 1);
  sim::AdvanceMs(100);
  extfskClose();
  ModuleDetach(false);
  EXPECT_TRUE(sim::TrampolinePageFreed());

  ResetModule();
  ASSERT_EQ(extfskOpen(0), 1);
  sim::FiredTimer fired;
  ASSERT_TRUE(sim::TakeNextTimer(&fired));  // fired, its callback still to come
  extfskClose();
  ModuleDetach(false);
  EXPECT_FALSE(sim::TrampolinePageFreed());
  sim::RunTimer(fired);
  EXPECT_EQ(sim::CallbacksTurnedAway(), 1u);
}

TEST_F(ModuleTest, FreeLibraryDoesNotWaitForAnotherThreadInsideOpen) {
  sim::AttachBox(9);
  std::promise<void> promptOpen;
  std::promise<void> answer;
  std::shared_future<void> answered = answer.get_future().share();
  sim::ScriptPrompt(plat::kIdNo, [&] {
    promptOpen.set_value();
    answered.wait();
  });
  std::thread host([] { extfskOpen(0); });
  promptOpen.get_future().wait();

  const auto start = std::chrono::steady_clock::now();
  ModuleDetach(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // The open keeps its instance, but its clock stops at once (a tick would
  // run in unmapped code) and its lines are released.
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
  EXPECT_EQ(sim::ResolutionRequests(), 0);
  const std::vector<uint8_t> release = {0x00, 0x01, 0x0F, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(sim::HidReports().back().bytes, release);
  EXPECT_EQ(sim::Box()->OpenHandles().Total(), 0);
  EXPECT_EQ(sim::ModuleKeptMapped(), 1) << "the thread inside needs the code under it";

  answer.set_value();
  host.join();
  EXPECT_EQ(extfskOpen(0), 0) << "no clock starts in a module the host has let go";
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
}
