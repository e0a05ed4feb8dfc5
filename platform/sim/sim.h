// Control side of the simulated platform, for tests and tools.
#pragma once

#include <cstdint>
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

// ---- trace --------------------------------------------------------------
void SetTraceEnabled(bool enabled);
std::vector<std::string> TraceLines();
void ClearTrace();

// Each part of the simulated platform resets its own state; Reset calls them.
namespace detail {
void ResetHid();
void ResetPrompts();
void ResetVersion();
void ResetPower();
}  // namespace detail

}  // namespace sim
