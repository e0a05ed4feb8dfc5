#include "shell/lifecycle.h"

#include <new>

#include "hidlink/output_report.h"
#include "platform/trace.h"
#include "shell/fsk_keyer.h"

FskKeyer* activeKeyer = nullptr;

namespace {

// Serialises open and close across the host's threads. It is recursive: a
// prompt's message loop may call back into extfskOpen or extfskClose on the
// same thread, and those calls are deferred until the settings step is over.
plat::Lock lifecycleLock;
bool inSettingsStep = false;
enum class Deferred { None, Close, Reopen };
Deferred deferred = Deferred::None;
// Set when an unload had to leave a host thread inside the module: no new
// instance may start a clock in a module the host has let go. Under keyerLock.
bool openingRefused = false;
// An instance that an unload took from an open still in its settings step:
// the first of the two to be done with it leaves it here, the second frees it.
// Under keyerLock.
FskKeyer* orphan = nullptr;

// Done with an instance that two threads held; true if this one is the last.
bool LastToLeave(FskKeyer* keyer) {
  KeyerGuard guard;
  if (orphan == keyer) {
    orphan = nullptr;
    return true;
  }
  orphan = keyer;
  return false;
}

FskKeyer* TakeActive(Teardown mode) {
  KeyerGuard guard(mode);
  FskKeyer* keyer = activeKeyer;
  activeKeyer = nullptr;
  return keyer;
}

void CloseActive(Teardown mode) {
  FskKeyer* keyer = TakeActive(mode);
  if (keyer == nullptr) return;
  keyer->StopClock(mode);
  // At process exit there is no tick left to wait for.
  if (mode == Teardown::Normal) keyer->AwaitStoppedClock(FskKeyer::kNoBound);
  keyer->Release(mode);
  delete keyer;
}

bool AcquireWithin(plat::Lock& lock, uint32_t ms) {
  const uint32_t start = plat::MonotonicMs();
  while (!lock.TryAcquire()) {
    if (plat::MonotonicMs() - start >= ms) return false;
    plat::SleepMs(1);
  }
  return true;
}

int32_t OpenNew() {
  CloseActive(Teardown::Normal);
  {
    KeyerGuard guard;
    if (openingRefused) return 0;
  }
  auto* keyer = new (std::nothrow) FskKeyer;
  if (keyer == nullptr) return 0;
  // An unload may have come while the first report looked for the box.
  if (!PublishKeyer(keyer)) {
    delete keyer;
    return 0;
  }
  inSettingsStep = true;
  keyer->LoadSettings();
  inSettingsStep = false;
  bool taken;
  {
    KeyerGuard guard;
    taken = activeKeyer != keyer;
  }
  // Taken by an unload during the settings step: its clock is stopped and its
  // lines released; whichever of us is done last frees it.
  if (taken && LastToLeave(keyer)) delete keyer;
  return 1;
}

// ---- unload ------------------------------------------------------------------

enum class TickOutcome { Ended, Abandoned, LeftRunning };

// Hands a tick that waits inside the system a teardown to run on its way home,
// which does not pass through the module: the release report if the box is
// open, the device's handles and the discovery's set closed, the link's
// memory freed, and the instance's own when it is to go. The instance is read
// here while its tick waits, so its fields hold still.
bool Abandon(FskKeyer& keyer, bool freeInstance) {
  plat::AbandonedTickTeardown teardown;
  int memory = 0;
  const uint32_t length = keyer.hidCaps.OutputReportByteLength;
  uint8_t* report = nullptr;
  if (keyer.deviceOpen && length != 0) {
    report = static_cast<uint8_t*>(plat::AllocateZeroed(length));
    if (report != nullptr) {
      const uint8_t released[] = {tarvokey::kReportId, tarvokey::kReportCommand,
                                  tarvokey::kLinesReleased};
      BuildOutputReport(released, report, length);
      teardown.reportDevice = keyer.DeviceHandle;
      teardown.report = report;
      teardown.reportLength = length;
      teardown.memory[memory++] = report;
    }
  }
  teardown.handles[0] = keyer.DeviceHandle;
  teardown.handles[1] = keyer.ReadHandle;
  teardown.handles[2] = keyer.readEvent;
  teardown.interfaceSet = keyer.deviceInfoSet;
  teardown.memory[memory++] = keyer.detailData;
  teardown.memory[memory++] = keyer.reportBuffer.get();
  if (freeInstance) teardown.memory[memory++] = &keyer;

  if (!plat::AbandonTick(teardown)) {
    plat::Free(report);
    return false;
  }
  if (!freeInstance) {
    // Ours now: the tick will not come back to these fields, and the
    // instance outlives the unload in another host thread's hands.
    keyer.DeviceHandle = keyer.ReadHandle = keyer.readEvent = nullptr;
    keyer.deviceInfoSet = nullptr;
    keyer.detailData = nullptr;
    static_cast<void>(keyer.reportBuffer.release());
    keyer.deviceOpen = false;
    keyer.released = true;
  }
  return true;
}

// Stops the clock at unload and deals with a tick that is still running.
// Ended: the device link is free. Abandoned: the tick tears the instance down
// on its way home. LeftRunning: a tick that neither ended nor waited inside
// the system within the bounds; it still uses the instance and the module.
TickOutcome StopAtUnload(FskKeyer& keyer, bool freeInstance) {
  keyer.StopClock(Teardown::ModuleUnload);
  const uint32_t start = plat::MonotonicMs();
  uint32_t lastSeenInSystem = start;
  for (;;) {
    if (keyer.AwaitStoppedClock(0)) return TickOutcome::Ended;
    const plat::TickPlace place = plat::WhereIsTick();
    const uint32_t now = plat::MonotonicMs();
    if (place == plat::TickPlace::InSystemCall || place == plat::TickPlace::InReportWrite) {
      lastSeenInSystem = now;
      const uint32_t bound =
          place == plat::TickPlace::InReportWrite ? kStalledWriteWaitMs : kUnloadWaitMs;
      if (now - start >= bound && Abandon(keyer, freeInstance)) return TickOutcome::Abandoned;
    } else if (now - lastSeenInSystem >= kUnloadWaitMs) {
      // Running the module's own code all this while: not on its way out.
      return TickOutcome::LeftRunning;
    }
    plat::SleepMs(1);
  }
}

// A thread stays inside the module after the host let it go: keep the code
// under it mapped where the loader allows, and start no clock from now on.
void KeepForThreadInside() {
  {
    KeyerGuard guard;
    openingRefused = true;
  }
  if (!plat::KeepModuleMapped()) TraceLastError("GetModuleHandleEx: ");
}

void UnloadWithLifecycle() {
  FskKeyer* keyer = TakeActive(Teardown::ModuleUnload);
  if (keyer == nullptr) return;
  switch (StopAtUnload(*keyer, true)) {
    case TickOutcome::Ended:
      keyer->Release(Teardown::ModuleUnload);
      delete keyer;
      break;
    case TickOutcome::Abandoned:
      break;  // freed by its tick on the way home
    case TickOutcome::LeftRunning:
      KeepForThreadInside();
      break;
  }
}

// Another host thread is inside an open or close, perhaps with a prompt up.
// Its instance is taken from it (so it cannot free it meanwhile), its clock
// stopped and the lines released; the instance itself stays with that thread,
// which will come back into the module when its call returns.
void UnloadAroundAnotherThread() {
  KeepForThreadInside();
  FskKeyer* keyer = TakeActive(Teardown::ModuleUnload);
  if (keyer == nullptr) return;
  const TickOutcome outcome = StopAtUnload(*keyer, false);
  if (outcome == TickOutcome::Ended) keyer->Release(Teardown::ModuleUnload);
  if (outcome != TickOutcome::LeftRunning && LastToLeave(keyer)) delete keyer;
}

}  // namespace

bool PublishKeyer(FskKeyer* keyer) {
  KeyerGuard guard;
  if (openingRefused) return false;
  activeKeyer = keyer;
  return true;
}

void BeginModuleLife() {
  KeyerGuard guard;
  activeKeyer = nullptr;
  openingRefused = false;
}

int32_t OpenKeyer() {
  plat::LockGuard life(lifecycleLock);
  if (inSettingsStep) {
    deferred = Deferred::Reopen;
    return 1;
  }
  int32_t result = OpenNew();
  // Whatever the host asked for while a prompt was open, the last word wins.
  while (deferred != Deferred::None) {
    const Deferred request = deferred;
    deferred = Deferred::None;
    if (request == Deferred::Close) {
      CloseActive(Teardown::Normal);
    } else {
      result = OpenNew();
    }
  }
  return result;
}

void CloseKeyer() {
  plat::LockGuard life(lifecycleLock);
  if (inSettingsStep) {
    deferred = Deferred::Close;
    return;
  }
  CloseActive(Teardown::Normal);
}

void CloseAtUnload(bool processExiting) {
  if (processExiting) {
    // The other threads are gone, one perhaps holding the lifecycle lock.
    CloseActive(Teardown::ProcessExit);
    return;
  }
  if (AcquireWithin(lifecycleLock, kUnloadWaitMs)) {
    UnloadWithLifecycle();
    lifecycleLock.Release();
  } else {
    UnloadAroundAnotherThread();
  }
  // No timer callback enters the module from now on. One still inside its
  // code (never seen yet) keeps it mapped, where the loader allows.
  if (!plat::CloseTickDoor(kUnloadWaitMs)) KeepForThreadInside();
}
