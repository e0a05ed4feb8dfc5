// Simulated tick's trampoline: what the Windows backend's trampoline page does,
// in C++. A tick abandoned inside a device call returns to winmm as it does
// there: a jump from the call straight back to the entry thunk, past the
// module's frames, none of whose code runs after the call, destructors
// included.
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
#include "platform/trampoline.h"

namespace {

using namespace trampoline;

std::atomic<int32_t> place{kOutside};
std::atomic<bool> closed{false};
std::atomic<std::thread::id> tickThread{};
std::atomic<uint64_t> turnedAway{0};
std::atomic<int> keptMapped{0};
// As the Windows trampoline's page: kept for an abandoned tick or a module kept
// mapped, given back by the unload only when no callback can come.
std::atomic<bool> pageOutlivesModule{false};
std::atomic<bool> pageFreed{false};
std::atomic<uint64_t> intoFreedTrampoline{0};
// A host that forbids making code: the next OpenTrampoline fails, and from then
// on callbacks enter the module directly and the trampoline knows nothing.
std::atomic<bool> refuseTrampoline{false};
std::atomic<bool> noTrampoline{false};

std::mutex teardownMutex;
plat::AbandonedTickTeardown pendingTeardown;

// A test's hold on the tick inside its next device call, and what it runs as
// an unload begins to abandon a tick.
std::mutex holdMutex;
std::condition_variable holdChanged;
enum class Hold { None, Armed, Holding } hold = Hold::None;
std::string stalledCall;  // empty: any
std::function<void()> onAbandon;
std::function<void()> whileParked;

// An unload parking the tick and the tick waiting in the call thunk share the
// processor as on a PC with one: once the tick waits there, the unload goes
// on only after the tick has yielded it. A wait that spins without yielding
// starves the unload; that is counted.
std::atomic<bool> waitingWhileParked{false};
std::atomic<uint64_t> yieldsWhileParked{0};
std::atomic<int> unloadsStarved{0};

void YieldToHolder() {
  ++yieldsWhileParked;
  std::this_thread::yield();
}

void HolderNeedsTheProcessor() {
  if (!waitingWhileParked) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (yieldsWhileParked == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ++unloadsStarved;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The trampoline's entry of the tick that runs on this thread, where an
// abandoned tick's stack switch lands.
thread_local std::jmp_buf* tickEntry = nullptr;

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

bool TrampolineClosed() { return closed; }
void RefuseTrampoline() { refuseTrampoline = true; }

void StallTickInNextSystemCall(const char* call) {
  std::lock_guard<std::mutex> lock(holdMutex);
  hold = Hold::Armed;
  stalledCall = call != nullptr ? call : "";
}

bool WaitForStalledTick(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(holdMutex);
  return holdChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [] { return hold == Hold::Holding; });
}

void ReleaseStalledTick() {
  std::lock_guard<std::mutex> lock(holdMutex);
  hold = Hold::None;
  holdChanged.notify_all();
}

void OnAbandonTick(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(holdMutex);
  onAbandon = std::move(hook);
}

void WhileTickParked(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(holdMutex);
  whileParked = std::move(hook);
}

bool ParkedTickWaits(uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!waitingWhileParked) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int UnloadsStarved() { return unloadsStarved; }
uint64_t CallbacksTurnedAway() { return turnedAway; }
bool TrampolinePageFreed() { return pageFreed; }
uint64_t CallbacksIntoAFreedTrampoline() { return intoFreedTrampoline; }
int ModuleKeptMapped() { return keptMapped; }

namespace detail {

// Runs a timer callback through the trampoline; false if the trampoline turned
// it away.
bool RunThroughTrampoline(uint32_t id, plat::TimerProc proc, void* user) {
  if (noTrampoline) {
    RunTick(id, proc, user);
    return true;
  }
  if (pageFreed) {
    ++intoFreedTrampoline;
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
    tickEntry = &entry;
    RunTick(id, proc, user);
  }
  // Returned, or an abandoned tick back from its call with its teardown run.
  tickEntry = nullptr;
  locksUnderTick = kNoTick;
  tickThread = std::thread::id{};
  place = kOutside;
  return true;
}

void EnterSystemCall(bool reportWrite, const char* name) {
  // A tick holding a lock of the module here would keep it for good if
  // abandoned, and an unload or the host's next call would wait on it meanwhile.
  // Its locks are let go of until the call returns, so that the test fails
  // rather than hangs.
  if (locksUnderTick != kNoTick && LocksHeld() > locksUnderTick) {
    sim::Box()->Breach(std::string(name != nullptr ? name : "a device call") +
                       ": called by a tick holding a lock of the module");
    LetGoOfLocks(locksUnderTick);
  }
  if (noTrampoline || !OnTickThread()) return;
  place.exchange(reportWrite ? kInReportWrite : kInSystemCall);
  std::unique_lock<std::mutex> lock(holdMutex);
  if (hold != Hold::Armed) return;
  if (!stalledCall.empty() && (name == nullptr || stalledCall != name)) return;
  hold = Hold::Holding;
  holdChanged.notify_all();
  holdChanged.wait(lock, [] { return hold != Hold::Holding; });
}

void LeaveSystemCall(void (*dispose)(void* result), void* result) {
  if (noTrampoline || !OnTickThread()) {
    RetakeTickLocks();
    return;
  }
  // Back in the module, unless an unload parks the tick (it waits here, as the
  // Windows call thunk does) or has abandoned it.
  for (;;) {
    int32_t now = place.load();
    if (now == kParked) {
      waitingWhileParked = true;
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
  std::longjmp(*tickEntry, 1);
}

void ResetTrampoline() {
  place = kOutside;
  closed = false;
  tickThread = std::thread::id{};
  turnedAway = 0;
  keptMapped = 0;
  pageOutlivesModule = false;
  pageFreed = false;
  intoFreedTrampoline = 0;
  refuseTrampoline = false;
  noTrampoline = false;
  {
    std::lock_guard<std::mutex> lock(teardownMutex);
    pendingTeardown = plat::AbandonedTickTeardown{};
  }
  std::lock_guard<std::mutex> lock(holdMutex);
  hold = Hold::None;
  stalledCall.clear();
  onAbandon = nullptr;
  whileParked = nullptr;
  waitingWhileParked = false;
  yieldsWhileParked = 0;
  unloadsStarved = 0;
}

}  // namespace detail
}  // namespace sim

namespace plat {

bool OpenTrampoline() {
  if (!refuseTrampoline) return true;
  noTrampoline = true;
  SetLastError(kErrorAccessDenied);  // what VirtualProtect says under ACG
  return false;
}

TickPlace WhereIsTick() {
  return noTrampoline ? TickPlace::Unknown : trampoline::TickPlaceOf(place.load());
}

bool AbandonTick(TeardownSnapshot snapshot, void* context) {
  if (noTrampoline) return false;
  std::function<void()> hook;
  std::function<void()> held;
  {
    std::lock_guard<std::mutex> lock(holdMutex);
    hook = onAbandon;
    held = whileParked;
  }
  if (hook) hook();
  waitingWhileParked = false;
  yieldsWhileParked = 0;
  int32_t expected = kInSystemCall;
  if (!place.compare_exchange_strong(expected, kParked)) {
    expected = kInReportWrite;
    if (!place.compare_exchange_strong(expected, kParked)) return false;
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

bool CloseTrampoline(uint32_t waitMs) {
  if (noTrampoline) return true;
  closed = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (place.load() == kInModule) {
    if (std::chrono::steady_clock::now() >= deadline) {
      pageOutlivesModule = true;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!pageOutlivesModule && sim::detail::NoTimerCallbackCanCome()) pageFreed = true;
  return true;
}

bool KeepModuleMapped() {
  ++keptMapped;
  pageOutlivesModule = true;
  return true;
}

}  // namespace plat
