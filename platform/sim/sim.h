// Control side of the simulated platform, for tests and tools.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// Back to a fresh platform: virtual time 0 and no timers, no trace lines,
// every scripted fault cleared. Leaves real-time mode first if it is on.
void Reset();

// ---- clock --------------------------------------------------------------
// Virtual mode (the default): time moves only when a test advances it, and
// due timers fire on the advancing thread in order of due time.
uint32_t NowMs();
void AdvanceMs(uint32_t ms);
// Advances to the next armed timer and fires it; false if none is armed.
bool FireNextTimer();
size_t ArmedTimerCount();
// Takes the next timer off the list without running it, as the timer thread
// does just before it calls back: the caller runs (or drops) the callback.
struct FiredTimer {
  uint32_t id;
  void (*proc)(uint32_t, void*);
  void* user;
};
bool TakeNextTimer(FiredTimer* fired);
// The next n calls to arm a timer fail (return 0).
void FailTimerArms(int n);
// timeBeginPeriod calls minus timeEndPeriod calls.
int ResolutionRequests();

// Real-time mode: timers fire on one simulated timer thread after real delays,
// as multimedia timers do. Stop joins the thread; armed timers are dropped.
void StartRealTime();
void StopRealTime();
// Callbacks run so far, and the most that ever ran at once.
uint64_t CallbacksRun();
int MaxConcurrentCallbacks();
// Runs a timer taken with TakeNextTimer on the calling thread, through the
// tick's trampoline, as the timer thread would.
void RunTimer(const FiredTimer& fired);

// ---- the tick's trampoline ---------------------------------------------
// Callbacks and the device calls they make pass the trampoline as on Windows. A
// tick abandoned by an unload returns to winmm when its call returns: the sim
// runs the teardown it was given and jumps back to the callback's entry without
// running any more of the module's code, destructors included. A tick that
// makes a device call holding a lock of the module is recorded as a breach
// (Box()->Breaches()). Timers that fire after the trampoline closed are
// dropped.
bool TrampolineClosed();
// Callbacks dropped at the closed trampoline.
uint64_t CallbacksTurnedAway();
// Whether the unload gave the trampoline's page back (Windows: VirtualFree),
// which it may only once no callback can come; and the callbacks that came to
// it after all, each of which would end the host on Windows.
bool TrampolinePageFreed();
uint64_t CallbacksIntoAFreedTrampoline();
// Times the module asked to stay mapped.
int ModuleKeptMapped();
// The next OpenTrampoline is refused, as by a host that forbids making code:
// from then on callbacks enter the module directly and nothing knows where
// the tick is.
void RefuseTrampoline();
// The tick's next device call (of that name, when given) stalls it inside,
// once the trampoline has marked it as waiting in the system, until released:
// a call that does not return until then.
void StallTickInNextSystemCall(const char* call = nullptr);
bool WaitForStalledTick(uint32_t timeoutMs);  // false after timeoutMs of real time
void ReleaseStalledTick();
// Runs as an unload begins to abandon a tick, before the tick is parked: what
// the tick does meanwhile, it does between the unload's look at it and the
// abandon. Empty for none.
void OnAbandonTick(std::function<void()> hook);
// Runs once the unload has parked the tick, before it reads the teardown: a
// call that returns meanwhile leaves the tick waiting in the call thunk. From
// then on the two share one processor: the unload goes on only once the
// waiting tick has yielded it. Empty for none.
void WhileTickParked(std::function<void()> hook);
// Whether the parked tick waits in the call thunk; false after timeoutMs.
bool ParkedTickWaits(uint32_t timeoutMs);
// Unloads that waited in vain for a parked tick to yield the processor.
int UnloadsStarved();

// ---- the host program's folder --------------------------------------------------
// Where the simulated host's executable lies; empty (after a reset): nowhere
// the driver can open a file.
void SetProgramFolder(const std::string& folder);

// ---- the process and its status section ----------------------------------------
// The process id the module is told (4242 unless set) and the host program's
// name ("MMTTY.EXE").
void SetProcessId(uint32_t pid);
// The sections the module made and has not given up, as a reader that maps
// them sees them. As on Windows, a view outlives the module's close: `owner`
// keeps its memory.
struct StatusSection {
  std::string name;
  const void* view;
  size_t bytes;
  std::shared_ptr<const void> owner;
};
std::vector<StatusSection> StatusSections();
// From now on no section can be made, as when Windows refuses one.
void RefuseStatusSections();
// Another program makes the section in the module's name first and keeps it:
// `bytes` long, of which the first `writable` are committed and writable (0:
// reserved and never committed, or read-only), each word holding `fill`.
void SquatStatusSection(size_t bytes, size_t writable, uint32_t fill);

// ---- memory ---------------------------------------------------------------
// Blocks from AllocateZeroed not freed yet.
int LiveAllocations();
// The nth allocation from now (1: the next) fails.
void FailAllocation(int nth);

// ---- trace --------------------------------------------------------------
void SetTraceEnabled(bool enabled);
std::vector<std::string> TraceLines();
void ClearTrace();

// Each part of the simulated platform resets its own state; Reset calls them.
namespace detail {
// The device calls of the simulated bus pass the trampoline through this: a
// call made by a tick marks the tick as waiting in the system, and a tick
// abandoned meanwhile returns to winmm when it returns (the call's result
// handed to `dispose`).
void EnterSystemCall(bool reportWrite, const char* name);
void LeaveSystemCall(void (*dispose)(void* result), void* result);
// Holds of the module's locks (plat::Lock) by the calling thread, in the
// order taken. Those after the first `kept` are let go of on the thread's
// behalf, taken back, or forgotten (let go of for good).
int LocksHeld();
void LetGoOfLocks(int kept);
void RetakeLocks(int kept);
void ForgetLocks(int kept);
// Runs a timer callback through the trampoline; false if the trampoline turned
// it away.
bool RunThroughTrampoline(uint32_t id, void (*proc)(uint32_t, void*), void* user);
// Whether a timer callback may still come to the trampoline.
bool NoTimerCallbackCanCome();
void ResetTrampoline();
// Time a device call takes: the virtual clock moves on by it (no timer fires
// meanwhile), or in real-time mode the calling thread sleeps that long.
void PassTime(uint32_t ms);
void ResetHid();
void ResetPrompts();
void ResetVersion();
void ResetPower();
void ResetFiles();
void ResetStatus();
}  // namespace detail

}  // namespace sim
