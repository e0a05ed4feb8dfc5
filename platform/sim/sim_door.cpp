// Simulated tick's door: what the Windows backend's door page does, in C++.
// A tick abandoned inside a device call goes home by an exception that only
// the door catches, so none of the module's code after the call runs.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

enum Place : int { kOutside = 0, kInModule = 1, kInSystemCall = 2, kAbandoned = 3, kInWrite = 4 };

std::atomic<int> place{kOutside};
std::atomic<bool> closed{false};
std::atomic<std::thread::id> tickThread{};
std::atomic<uint64_t> turnedAway{0};
std::atomic<int> keptMapped{0};

std::mutex teardownMutex;
plat::AbandonedTickTeardown pendingTeardown;

// Thrown from the device call of an abandoned tick; caught by the door only.
struct WayHome {};

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
uint64_t CallbacksTurnedAway() { return turnedAway; }
int ModuleKeptMapped() { return keptMapped; }

namespace detail {

// Runs a timer callback through the door; false if the door turned it away.
bool RunThroughDoor(uint32_t id, plat::TimerProc proc, void* user) {
  place.exchange(kInModule);
  if (closed) {
    place = kOutside;
    ++turnedAway;
    return false;
  }
  tickThread = std::this_thread::get_id();
  try {
    proc(id, user);
  } catch (const WayHome&) {
    // The abandoned tick is home; its teardown has run.
  }
  tickThread = std::thread::id{};
  place = kOutside;
  return true;
}

void EnterSystemCall(bool reportWrite) {
  if (OnTickThread()) place.exchange(reportWrite ? kInWrite : kInSystemCall);
}

void LeaveSystemCall(void (*dispose)(void* result), void* result) {
  if (!OnTickThread() || place.exchange(kInModule) != kAbandoned) return;
  // From here on this thread runs no more of the module than the teardown's
  // own device calls, which are plain calls now.
  tickThread = std::thread::id{};
  if (dispose != nullptr && result != nullptr) dispose(result);
  RunTeardown();
  throw WayHome{};
}

void ResetDoor() {
  place = kOutside;
  closed = false;
  tickThread = std::thread::id{};
  turnedAway = 0;
  keptMapped = 0;
  std::lock_guard<std::mutex> lock(teardownMutex);
  pendingTeardown = plat::AbandonedTickTeardown{};
}

}  // namespace detail
}  // namespace sim

namespace plat {

bool OpenTickDoor() { return true; }

TickPlace WhereIsTick() {
  switch (place.load()) {
    case kOutside:
      return TickPlace::Outside;
    case kInModule:
      return TickPlace::InModule;
    case kInWrite:
      return TickPlace::InReportWrite;
    default:
      return TickPlace::InSystemCall;
  }
}

bool AbandonTick(const AbandonedTickTeardown& teardown) {
  {
    std::lock_guard<std::mutex> lock(teardownMutex);
    pendingTeardown = teardown;
  }
  int expected = kInSystemCall;
  if (place.compare_exchange_strong(expected, kAbandoned)) return true;
  expected = kInWrite;
  return place.compare_exchange_strong(expected, kAbandoned);
}

bool CloseTickDoor(uint32_t waitMs) {
  closed = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (place.load() == kInModule) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool KeepModuleMapped() {
  ++keptMapped;
  return true;
}

}  // namespace plat
