// Simulated tick's door: what the Windows backend's door page does, in C++.
// A tick abandoned inside a device call goes home as it does there: a jump
// from the call straight back to the door's entry, past the module's frames,
// none of whose code runs after the call, destructors included.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csetjmp>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "platform/tick_door.h"

namespace {

using namespace tickdoor;

std::atomic<int32_t> place{kOutside};
std::atomic<bool> closed{false};
std::atomic<std::thread::id> tickThread{};
std::atomic<uint64_t> turnedAway{0};
std::atomic<int> keptMapped{0};
// As the Windows door's page: kept for an abandoned tick or a module kept
// mapped, given back by the unload only when no callback can come.
std::atomic<bool> pageOutlivesModule{false};
std::atomic<bool> pageGivenBack{false};
std::atomic<uint64_t> intoGivenBackDoor{0};
// A host that forbids making code: the next OpenTickDoor fails, and from then
// on callbacks enter the module directly and the door knows nothing.
std::atomic<bool> refuseDoor{false};
std::atomic<bool> noDoor{false};

std::mutex teardownMutex;
plat::AbandonedTickTeardown pendingTeardown;

// A test's hold on the tick inside its next device call, and what it runs as
// an unload begins to abandon a tick.
std::mutex holdMutex;
std::condition_variable holdChanged;
enum class Hold { None, Armed, Holding } hold = Hold::None;
std::string heldCall;  // empty: any
std::function<void()> onAbandon;
std::function<void()> whileHeld;

// An unload holding the tick and the tick waiting at the door for it share
// the processor as on a PC with one: once the tick waits there, the holder
// goes on only after the tick has yielded it. A wait that spins without
// yielding starves the holder; that is counted.
std::atomic<bool> waitingWhileHeld{false};
std::atomic<uint64_t> yieldsWhileHeld{0};
std::atomic<int> holdersStarved{0};

void YieldToHolder() {
  ++yieldsWhileHeld;
  std::this_thread::yield();
}

void HolderNeedsTheProcessor() {
  if (!waitingWhileHeld) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (yieldsWhileHeld == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ++holdersStarved;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The door's entry of the tick that runs on this thread: its way home.
thread_local std::jmp_buf* home = nullptr;

// Holds of the module's locks by this thread as a tick began on it: its
// host's, not the tick's (a host's thread that runs virtual time may hold
// some). kNoTick while no tick runs on it.
constexpr int kNoTick = -1;
thread_local int locksUnderTick = kNoTick;

void RunTick(uint32_t id, plat::TimerProc proc, void* user) {
  locksUnderTick = sim::detail::LocksHeld();
  proc(id, user);
  locksUnderTick = kNoTick;
}

void RetakeTickLocks() {
  if (locksUnderTick != kNoTick) sim::detail::RetakeLocks(locksUnderTick);
}

bool OnTickThread() { return tickThread.load() == std::this_thread::get_id(); }

void RunTeardown() {
  plat::AbandonedTickTeardown t;
  {
    std::lock_guard<std::mutex> lock(teardownMutex);
    t = pendingTeardown;
  }
  if (t.reportDevice != nullptr) {
    uint32_t written = 0;
    plat::WriteFile(t.reportDevice, t.report, t.reportLength, &written);
  }
  for (plat::Handle handle : t.handles) {
    if (handle != nullptr) plat::CloseHandle(handle);
  }
  if (t.interfaceSet != nullptr) plat::CloseInterfaceSet(t.interfaceSet);
  for (void* memory : t.memory) plat::Free(memory);
}

}  // namespace

namespace sim {

bool TickDoorClosed() { return closed; }
void RefuseTickDoor() { refuseDoor = true; }

void HoldTickInNextSystemCall(const char* call) {
  std::lock_guard<std::mutex> lock(holdMutex);
  hold = Hold::Armed;
  heldCall = call != nullptr ? call : "";
}

bool WaitForHeldTick(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(holdMutex);
  return holdChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [] { return hold == Hold::Holding; });
}

void ReleaseHeldTick() {
  std::lock_guard<std::mutex> lock(holdMutex);
  hold = Hold::None;
  holdChanged.notify_all();
}

void OnAbandonTick(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(holdMutex);
  onAbandon = std::move(hook);
}

void WhileTickHeld(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(holdMutex);
  whileHeld = std::move(hook);
}

bool TickWaitsForItsHolder(uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!waitingWhileHeld) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int HoldersStarved() { return holdersStarved; }
uint64_t CallbacksTurnedAway() { return turnedAway; }
bool DoorPageGivenBack() { return pageGivenBack; }
uint64_t CallbacksIntoAGivenBackDoor() { return intoGivenBackDoor; }
int ModuleKeptMapped() { return keptMapped; }

namespace detail {

// Runs a timer callback through the door; false if the door turned it away.
bool RunThroughDoor(uint32_t id, plat::TimerProc proc, void* user) {
  if (noDoor) {
    RunTick(id, proc, user);
    return true;
  }
  if (pageGivenBack) {
    ++intoGivenBackDoor;
    return false;
  }
  place.exchange(kInModule);
  if (closed) {
    place = kOutside;
    ++turnedAway;
    return false;
  }
  tickThread = std::this_thread::get_id();
  std::jmp_buf entry;
  if (setjmp(entry) == 0) {
    home = &entry;
    RunTick(id, proc, user);
  }
  // Returned, or an abandoned tick home from its call with its teardown run.
  home = nullptr;
  locksUnderTick = kNoTick;
  tickThread = std::thread::id{};
  place = kOutside;
  return true;
}

void EnterSystemCall(bool reportWrite, const char* name) {
  // A tick holding a lock of the module here would keep it for good if sent
  // home, and an unload or the host's next call would wait on it meanwhile.
  // Its locks are let go of until the call returns, so that the test fails
  // rather than hangs.
  if (locksUnderTick != kNoTick && LocksHeld() > locksUnderTick) {
    sim::Box()->Breach(std::string(name != nullptr ? name : "a device call") +
                       ": called by a tick holding a lock of the module");
    LetGoOfLocks(locksUnderTick);
  }
  if (noDoor || !OnTickThread()) return;
  place.exchange(reportWrite ? kInReportWrite : kInSystemCall);
  std::unique_lock<std::mutex> lock(holdMutex);
  if (hold != Hold::Armed) return;
  if (!heldCall.empty() && (name == nullptr || heldCall != name)) return;
  hold = Hold::Holding;
  holdChanged.notify_all();
  holdChanged.wait(lock, [] { return hold != Hold::Holding; });
}

void LeaveSystemCall(void (*dispose)(void* result), void* result) {
  if (noDoor || !OnTickThread()) {
    RetakeTickLocks();
    return;
  }
  // Back in the module, unless an unload holds the tick (it waits here, as the
  // Windows door's gate does) or has abandoned it.
  for (;;) {
    int32_t now = place.load();
    if (now == kHeld) {
      waitingWhileHeld = true;
      YieldToHolder();
      continue;
    }
    if (now == kAbandoned) break;
    if (place.compare_exchange_weak(now, kInModule)) {
      RetakeTickLocks();
      return;
    }
  }
  // From here on this thread runs no more of the module than the teardown's
  // own device calls, which are plain calls now.
  ForgetLocks(locksUnderTick);
  tickThread = std::thread::id{};
  if (dispose != nullptr && result != nullptr) dispose(result);
  RunTeardown();
  std::longjmp(*home, 1);
}

void ResetDoor() {
  place = kOutside;
  closed = false;
  tickThread = std::thread::id{};
  turnedAway = 0;
  keptMapped = 0;
  pageOutlivesModule = false;
  pageGivenBack = false;
  intoGivenBackDoor = 0;
  refuseDoor = false;
  noDoor = false;
  {
    std::lock_guard<std::mutex> lock(teardownMutex);
    pendingTeardown = plat::AbandonedTickTeardown{};
  }
  std::lock_guard<std::mutex> lock(holdMutex);
  hold = Hold::None;
  heldCall.clear();
  onAbandon = nullptr;
  whileHeld = nullptr;
  waitingWhileHeld = false;
  yieldsWhileHeld = 0;
  holdersStarved = 0;
}

}  // namespace detail
}  // namespace sim

namespace plat {

bool OpenTickDoor() {
  if (!refuseDoor) return true;
  noDoor = true;
  SetLastError(kErrorAccessDenied);  // what VirtualProtect says under ACG
  return false;
}

TickPlace WhereIsTick() {
  return noDoor ? TickPlace::Unknown : tickdoor::TickPlaceOf(place.load());
}

bool AbandonTick(TeardownSnapshot snapshot, void* context) {
  if (noDoor) return false;
  std::function<void()> hook;
  std::function<void()> held;
  {
    std::lock_guard<std::mutex> lock(holdMutex);
    hook = onAbandon;
    held = whileHeld;
  }
  if (hook) hook();
  waitingWhileHeld = false;
  yieldsWhileHeld = 0;
  int32_t expected = kInSystemCall;
  if (!place.compare_exchange_strong(expected, kHeld)) {
    expected = kInReportWrite;
    if (!place.compare_exchange_strong(expected, kHeld)) return false;
  }
  if (held) held();
  {
    std::lock_guard<std::mutex> lock(teardownMutex);
    pendingTeardown = snapshot(context);
  }
  HolderNeedsTheProcessor();
  pageOutlivesModule = true;
  place = kAbandoned;
  return true;
}

bool CloseTickDoor(uint32_t waitMs) {
  if (noDoor) return true;
  closed = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (place.load() == kInModule) {
    if (std::chrono::steady_clock::now() >= deadline) {
      pageOutlivesModule = true;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!pageOutlivesModule && sim::detail::NoTimerCallbackCanCome()) pageGivenBack = true;
  return true;
}

bool KeepModuleMapped() {
  ++keptMapped;
  pageOutlivesModule = true;
  return true;
}

}  // namespace plat
