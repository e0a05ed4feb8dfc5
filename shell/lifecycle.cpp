#include "shell/lifecycle.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <iterator>
#include <new>

#include "hidlink/output_report.h"
#include "platform/trace.h"
#include "settings/settings_file.h"
#include "shell/fsk_keyer.h"
#include "shell/version.h"
#include "status/status_record.h"

FskKeyer* activeKeyer = nullptr;

namespace {

// Serialises open and close across the host's threads. It is recursive: a
// prompt's message loop may call back into extfskOpen or extfskClose on the
// same thread, and those calls are deferred until the settings step is over.
plat::Lock lifecycleLock;
SettingsStep settingsStep = SettingsStep::Outside;  // under lifecycleLock
ModuleLife moduleLife = ModuleLife::Serving;        // under keyerLock
// An instance that an unload took from an open still in its settings step:
// the first of the two to be done with it leaves it here, the second frees it.
// Under keyerLock.
FskKeyer* orphan = nullptr;

void EnterSettingsStep(SettingsStep next) {
  assert(SettingsStepMayFollow(settingsStep, next));
  settingsStep = next;
}

void EnterModuleLife(ModuleLife next) {
  assert(ModuleLifeMayFollow(moduleLife, next));
  moduleLife = next;
}

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

static_assert(static_cast<int>(status::Choice::Chosen) == static_cast<int>(BoxChoiceKind::Chosen) &&
                  static_cast<int>(status::Choice::Malformed) ==
                      static_cast<int>(BoxChoiceKind::Malformed),
              "the record's choice is the instance's");

// The check program's window on the instance, made once the open's own steps
// are done so that none of them moves. A host where the section cannot be
// made keys as before; the record is then kept for nobody. So does one where
// another program made a section in its name first: it is given up unwritten.
void OpenStatus(FskKeyer& keyer) {
  char16_t exe[status::kHostExeUnits] = {};
  plat::HostProgramName(exe, status::kHostExeUnits);
  // Longer than the record holds, so that a folder cut to fit says so.
  char16_t folder[2 * status::kHostFolderUnits] = {};
  plat::HostProgramFolder(folder, 2 * status::kHostFolderUnits);
  status::Opening opening;
  opening.hostPid = plat::CurrentProcessId();
  opening.hostExe = exe;
  opening.hostFolder = folder;
  opening.choice = static_cast<status::Choice>(keyer.boxChoice.kind);
  opening.chosenKey = keyer.boxChoice.key;
  const uint16_t version[] = {TARVOKEY_VERSION_MAJOR, TARVOKEY_VERSION_MINOR,
                              TARVOKEY_VERSION_BUILD, TARVOKEY_VERSION_REVISION};
  std::copy(std::begin(version), std::end(version), opening.moduleVersion);
  opening.counterFrequency = plat::PerformanceFrequency();
  opening.counter = plat::PerformanceCounter();
  opening.systemTime = plat::SystemTimeUtc();
  plat::StatusSection section;
  const bool made = plat::CreateStatusSection(sizeof(status::Record), &section);
  if (!made) TraceLastError("CreateFileMapping (status): ");
  bool attached = false;
  bool unusable = false;
  {
    KeyerGuard guard;
    keyer.status.SetOpening(opening);
    // An unload on another host thread may have taken the instance meanwhile:
    // it is then not shown, and its release has nothing to give up.
    if (made && keyer.state == KeyerState::Running) {
      attached = keyer.status.Attach(section.view, section.bytes, section.foundThere);
      unusable = !attached;
    }
    if (attached) keyer.statusSection = section;
  }
  if (unusable) {
    char line[80] = "Status section not usable: another program's";
    if (section.bytes < sizeof(status::Record)) {
      std::snprintf(line, sizeof line, "Status section not usable: %u of %u bytes writable",
                    static_cast<unsigned>(section.bytes),
                    static_cast<unsigned>(sizeof(status::Record)));
    }
    Trace(line);
  }
  if (made && !attached) plat::CloseStatusSection(&section);
}

int32_t OpenNew() {
  CloseActive(Teardown::Normal);
  {
    KeyerGuard guard;
    if (moduleLife != ModuleLife::Serving) return 0;
  }
  // Read before the instance is built: the box it chooses is the only one
  // the first report may go to.
  SettingsPlace place = SettingsPlace::None;
  const SettingsValues settings = ReadSettingsFile(&place);
  auto* keyer = new (std::nothrow) FskKeyer(settings.box);
  if (keyer == nullptr) return 0;
  // An unload may have come while the first report looked for the box.
  if (!PublishKeyer(keyer)) {
    delete keyer;
    return 0;
  }
  OpenStatus(*keyer);
  EnterSettingsStep(SettingsStep::Inside);
  keyer->LoadSettings(settings, place);
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

struct AbandonRequest {
  FskKeyer* keyer;
  bool freeInstance;
  plat::StatusSection section;  // taken from the instance, given up by the unload
};

// The teardown a tick abandoned inside the system runs on its way back to
// winmm, which does not pass through the module: the release report if the box
// is open, the device's handles and the discovery's set closed, the link's
// memory freed, and the instance's own when it is to go. Read while the
// trampoline parks the tick inside its call, so the fields hold still and stay
// so: a handle the tick closed before it was held is none here, and is not
// closed again.
plat::AbandonedTickTeardown TeardownOf(void* context) {
  auto& request = *static_cast<AbandonRequest*>(context);
  FskKeyer& keyer = *request.keyer;
  plat::AbandonedTickTeardown teardown;
  int memory = 0;
  const uint32_t length = keyer.hidCaps.OutputReportByteLength;
  if (keyer.deviceOpen && keyer.DeviceHandle != nullptr && length != 0) {
    auto* report = static_cast<uint8_t*>(plat::AllocateZeroed(length));
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
  // After the release report and the box's handles: another program may take
  // the box once the claim is gone.
  teardown.handles[3] = keyer.boxClaim;
  teardown.handles[4] = keyer.trialClaim;
  teardown.interfaceSet = keyer.deviceInfoSet;
  teardown.memory[memory++] = keyer.detailData;
  teardown.memory[memory++] = keyer.reportBuffer.get();
  if (request.freeInstance) teardown.memory[memory++] = &keyer;

  if (!request.freeInstance) {
    // Ours now: the tick will not come back to these fields, and the
    // instance outlives the unload in another host thread's hands.
    keyer.DeviceHandle = keyer.ReadHandle = keyer.readEvent = nullptr;
    keyer.boxClaim = keyer.trialClaim = nullptr;
    keyer.deviceInfoSet = nullptr;
    keyer.detailData = nullptr;
    static_cast<void>(keyer.reportBuffer.release());
    keyer.deviceOpen = false;
  }
  KeyerGuard guard(Teardown::ModuleUnload);
  keyer.Enter(KeyerState::Abandoned);
  keyer.status.Detach();
  request.section = keyer.statusSection;
  keyer.statusSection = {};
  return teardown;
}

// Hands a tick that waits inside the system its teardown; false if it is not
// waiting in a call (then nothing is done).
bool Abandon(FskKeyer& keyer, bool freeInstance) {
  AbandonRequest request{&keyer, freeInstance, {}};
  if (!plat::AbandonTick(&TeardownOf, &request)) return false;
  plat::CloseStatusSection(&request.section);
  return true;
}

// Stops the clock at unload and deals with a tick that is still running. Ended:
// the device link is free. Abandoned: the tick tears the instance down on its
// way back to winmm. LeftRunning: a tick that neither ended nor waited inside
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
    if (moduleLife == ModuleLife::KeptForThreadInside) return;
    EnterModuleLife(ModuleLife::KeptForThreadInside);
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
      break;  // freed by its tick on the way back to winmm
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

void BeginModuleLife() {
  KeyerGuard guard;
  activeKeyer = nullptr;
  orphan = nullptr;
  moduleLife = ModuleLife::Serving;  // a fresh load: whatever the last one left
}

bool PublishKeyer(FskKeyer* keyer) {
  KeyerGuard guard;
  if (moduleLife != ModuleLife::Serving) return false;
  activeKeyer = keyer;
  return true;
}

int32_t OpenKeyer() {
  plat::LockGuard life(lifecycleLock);
  if (settingsStep != SettingsStep::Outside) {
    EnterSettingsStep(SettingsStep::ReopenAsked);
    return 1;
  }
  int32_t result = OpenNew();
  // Whatever the host asked for while a prompt was open, the last word wins.
  for (;;) {
    const SettingsStep asked = settingsStep;
    if (asked == SettingsStep::Outside) break;
    EnterSettingsStep(SettingsStep::Outside);
    if (asked == SettingsStep::CloseAsked) {
      CloseActive(Teardown::Normal);
    } else if (asked == SettingsStep::ReopenAsked) {
      result = OpenNew();
    }
  }
  return result;
}

void CloseKeyer() {
  plat::LockGuard life(lifecycleLock);
  if (settingsStep != SettingsStep::Outside) {
    EnterSettingsStep(SettingsStep::CloseAsked);
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
  if (!plat::CloseTrampoline(kUnloadWaitMs)) KeepForThreadInside();
}
