// Simulated clock, timers, lock, errors and trace.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "platform/trampoline.h"

namespace {

struct Timer {
  uint64_t due;  // virtual ms, or real ms since the epoch below
  plat::TimerProc proc;
  void* user;
};

std::mutex timerMutex;
std::condition_variable timerWake;
std::map<uint32_t, Timer> timers;
uint32_t nextTimerId = 1;
uint64_t virtualNow = 0;
int failArms = 0;
int resolutionRequests = 0;

bool realTime = false;
bool stopThread = false;
std::thread timerThread;
const auto epoch = std::chrono::steady_clock::now();
std::atomic<uint64_t> callbacksRun{0};
// Timers taken off the list whose callbacks have not returned yet: begun, or
// on their way (TakeNextTimer), as winmm's thread has them.
std::atomic<int> callbacksUnderWay{0};
trampoline::CallbackLedger callbacks;
std::atomic<int> runningCallbacks{0};
std::atomic<int> maxRunning{0};

std::mutex memoryMutex;
int liveAllocations = 0;
int failAllocationIn = 0;  // 0: none; n: the nth allocation from now fails

std::mutex traceMutex;
std::vector<std::string> traceLines;
std::atomic<bool> traceEnabled{true};
std::atomic<plat::TraceSink> traceSink{nullptr};

thread_local uint32_t lastError = 0;

// The module's locks this thread holds, as often as it took each, in order.
constexpr int kMaxHeldLocks = 16;
thread_local plat::Lock* heldLocks[kMaxHeldLocks];
thread_local int heldLockCount = 0;

std::recursive_mutex& MutexOf(plat::Lock& lock) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(&lock));
}

void NoteHeld(plat::Lock* lock) {
  assert(heldLockCount < kMaxHeldLocks);
  heldLocks[heldLockCount++] = lock;
}

uint64_t RealNowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - epoch)
                                   .count());
}

uint64_t ClockNow() { return realTime ? RealNowMs() : virtualNow; }

void RunCallback(uint32_t id, const Timer& timer) {
  const int running = ++runningCallbacks;
  int seen = maxRunning.load();
  while (running > seen && !maxRunning.compare_exchange_weak(seen, running)) {
  }
  const bool ran = sim::detail::RunThroughTrampoline(id, timer.proc, timer.user);
  --runningCallbacks;
  if (ran) ++callbacksRun;
  --callbacksUnderWay;
}

// Earliest due timer, ties broken by arming order. Caller holds timerMutex.
std::map<uint32_t, Timer>::iterator NextDue() {
  return std::min_element(timers.begin(), timers.end(), [](const auto& a, const auto& b) {
    return a.second.due != b.second.due ? a.second.due < b.second.due : a.first < b.first;
  });
}

void TimerThreadMain() {
  std::unique_lock<std::mutex> lock(timerMutex);
  while (!stopThread) {
    if (timers.empty()) {
      timerWake.wait(lock);
      continue;
    }
    auto next = NextDue();
    const uint64_t now = RealNowMs();
    if (next->second.due > now) {
      timerWake.wait_for(lock, std::chrono::milliseconds(next->second.due - now));
      continue;
    }
    const uint32_t id = next->first;
    const Timer timer = next->second;
    timers.erase(next);
    ++callbacksUnderWay;
    lock.unlock();  // as winmm does: callbacks may arm and kill timers
    RunCallback(id, timer);
    lock.lock();
  }
}

}  // namespace

namespace sim {

void Reset() {
  StopRealTime();
  {
    std::lock_guard<std::mutex> lock(timerMutex);
    timers.clear();
    nextTimerId = 1;
    virtualNow = 0;
    failArms = 0;
    resolutionRequests = 0;
  }
  callbacksRun = 0;
  maxRunning = 0;
  callbacksUnderWay = 0;
  callbacks.Reset();
  ClearTrace();
  traceEnabled = true;
  traceSink = nullptr;
  lastError = 0;
  {
    std::lock_guard<std::mutex> lock(memoryMutex);
    failAllocationIn = 0;
  }
  detail::ResetTrampoline();
  detail::ResetHid();
  detail::ResetPrompts();
  detail::ResetVersion();
  detail::ResetPower();
  detail::ResetFiles();
  detail::ResetStatus();
}

uint32_t NowMs() {
  std::lock_guard<std::mutex> lock(timerMutex);
  return static_cast<uint32_t>(ClockNow());
}

bool TakeNextTimer(FiredTimer* fired) {
  std::lock_guard<std::mutex> lock(timerMutex);
  if (timers.empty()) return false;
  auto next = NextDue();
  *fired = FiredTimer{next->first, next->second.proc, next->second.user};
  virtualNow = std::max(virtualNow, next->second.due);
  timers.erase(next);
  ++callbacksUnderWay;
  return true;
}

bool FireNextTimer() {
  FiredTimer fired;
  if (!TakeNextTimer(&fired)) return false;
  RunTimer(fired);
  return true;
}

void RunTimer(const FiredTimer& fired) { RunCallback(fired.id, Timer{0, fired.proc, fired.user}); }

void AdvanceMs(uint32_t ms) {
  uint64_t target;
  {
    std::lock_guard<std::mutex> lock(timerMutex);
    target = virtualNow + ms;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(timerMutex);
      if (timers.empty() || NextDue()->second.due > target) break;
    }
    FireNextTimer();
  }
  std::lock_guard<std::mutex> lock(timerMutex);
  virtualNow = target;
}

size_t ArmedTimerCount() {
  std::lock_guard<std::mutex> lock(timerMutex);
  return timers.size();
}

void FailTimerArms(int n) {
  std::lock_guard<std::mutex> lock(timerMutex);
  failArms = n;
}

int ResolutionRequests() {
  std::lock_guard<std::mutex> lock(timerMutex);
  return resolutionRequests;
}

void StartRealTime() {
  std::lock_guard<std::mutex> lock(timerMutex);
  if (realTime) return;
  realTime = true;
  stopThread = false;
  timers.clear();
  timerThread = std::thread(TimerThreadMain);
}

void StopRealTime() {
  {
    std::lock_guard<std::mutex> lock(timerMutex);
    if (!realTime) return;
    stopThread = true;
  }
  timerWake.notify_all();
  timerThread.join();
  std::lock_guard<std::mutex> lock(timerMutex);
  realTime = false;
  timers.clear();
}

uint64_t CallbacksRun() { return callbacksRun; }

namespace detail {
bool NoTimerCallbackCanCome() { return callbacks.NoCallbackCanCome(); }

int LocksHeld() { return heldLockCount; }

void LetGoOfLocks(int kept) {
  for (int i = heldLockCount; i-- > kept;) MutexOf(*heldLocks[i]).unlock();
}

void RetakeLocks(int kept) {
  for (int i = kept; i < heldLockCount; ++i) MutexOf(*heldLocks[i]).lock();
}

void ForgetLocks(int kept) { heldLockCount = kept; }

void PassTime(uint32_t ms) {
  if (ms == 0) return;
  {
    std::lock_guard<std::mutex> lock(timerMutex);
    if (!realTime) {
      virtualNow += ms;
      return;
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
}  // namespace detail

int LiveAllocations() {
  std::lock_guard<std::mutex> lock(memoryMutex);
  return liveAllocations;
}

void FailAllocation(int nth) {
  std::lock_guard<std::mutex> lock(memoryMutex);
  failAllocationIn = nth;
}
int MaxConcurrentCallbacks() { return maxRunning; }

void SetTraceEnabled(bool enabled) { traceEnabled = enabled; }

std::vector<std::string> TraceLines() {
  std::lock_guard<std::mutex> lock(traceMutex);
  return traceLines;
}

void ClearTrace() {
  std::lock_guard<std::mutex> lock(traceMutex);
  traceLines.clear();
}

}  // namespace sim

namespace plat {

uint32_t GetLastError() { return lastError; }
void SetLastError(uint32_t code) { lastError = code; }

char* FormatSystemMessage(uint32_t code) {
  // Like the system's table: a text with a line break for known codes.
  const char* text = nullptr;
  switch (code) {
    case kErrorSuccess:
      text = "The operation completed successfully.\r\n";
      break;
    case kErrorInvalidHandle:
      text = "The handle is invalid.\r\n";
      break;
    case kErrorDeviceNotConnected:
      text = "The device is not connected.\r\n";
      break;
    default:
      return nullptr;
  }
  const size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

void FreeSystemMessage(char* text) { std::free(text); }

bool TraceEnabled() { return traceEnabled || traceSink != nullptr; }

void TraceLine(const char* line) {
  {
    std::lock_guard<std::mutex> lock(traceMutex);
    traceLines.emplace_back(line);
  }
  if (const TraceSink sink = traceSink) sink(line);
}

void SetTraceSink(TraceSink sink) { traceSink = sink; }

Lock::Lock() {
  static_assert(sizeof(std::recursive_mutex) <= sizeof(storage_), "lock storage");
  new (storage_) std::recursive_mutex;
}
// A test's timer threads may outlive its statics: the lock stays.
Lock::~Lock() {}
void Lock::Acquire() {
  MutexOf(*this).lock();
  NoteHeld(this);
}
bool Lock::TryAcquire() {
  if (!MutexOf(*this).try_lock()) return false;
  NoteHeld(this);
  return true;
}
void Lock::Release() {
  // Its latest hold.
  for (int i = heldLockCount; i-- > 0;) {
    if (heldLocks[i] != this) continue;
    std::copy(heldLocks + i + 1, heldLocks + heldLockCount, heldLocks + i);
    --heldLockCount;
    break;
  }
  MutexOf(*this).unlock();
}

bool TimeBeginPeriod(uint32_t) {
  std::lock_guard<std::mutex> lock(timerMutex);
  ++resolutionRequests;
  return true;
}

void TimeEndPeriod(uint32_t) {
  std::lock_guard<std::mutex> lock(timerMutex);
  --resolutionRequests;
}

uint32_t TimeSetOneShot(uint32_t delayMs, uint32_t, TimerProc proc, void* user) {
  std::lock_guard<std::mutex> lock(timerMutex);
  if (failArms > 0) {
    --failArms;
    return 0;
  }
  const uint32_t id = nextTimerId++;
  timers[id] = Timer{ClockNow() + delayMs, proc, user};
  callbacks.Armed(id);
  timerWake.notify_all();
  return id;
}

bool TimeKillEvent(uint32_t timerId) {
  bool killed;
  {
    std::lock_guard<std::mutex> lock(timerMutex);
    killed = timers.erase(timerId) != 0;
  }
  callbacks.Killed(timerId);
  return killed;
}

// As winmm's one timer thread shows it: once no callback taken off the list
// is still under way. (With no timer of the module's armed, none is taken
// after.)
bool SeeTimerCallbacksOut(uint32_t waitMs) {
  uint32_t arms = 0;
  if (!callbacks.NoneArmed(&arms)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (callbacksUnderWay > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  callbacks.Proven(arms);
  return true;
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void* AllocateZeroed(size_t size) {
  std::lock_guard<std::mutex> lock(memoryMutex);
  if (failAllocationIn > 0 && --failAllocationIn == 0) return nullptr;
  void* memory = std::calloc(size, 1);
  if (memory != nullptr) ++liveAllocations;
  return memory;
}

void Free(void* memory) {
  if (memory == nullptr) return;
  std::free(memory);
  std::lock_guard<std::mutex> lock(memoryMutex);
  --liveAllocations;
}

uint32_t MonotonicMs() { return static_cast<uint32_t>(RealNowMs()); }

// Microseconds of the clock the timers run on: virtual time exactly as the
// test advances it, real time in real-time mode.
uint64_t PerformanceCounter() {
  std::lock_guard<std::mutex> lock(timerMutex);
  if (!realTime) return virtualNow * 1000;
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now() - epoch)
                                   .count());
}
uint64_t PerformanceFrequency() { return 1000000; }

}  // namespace plat
