#include "shell/lifecycle.h"

#include <new>

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

void CloseActive(Teardown mode) {
  FskKeyer* keyer;
  {
    KeyerGuard guard(mode);
    keyer = activeKeyer;
    activeKeyer = nullptr;
  }
  if (keyer == nullptr) return;
  keyer->StopClock(mode);
  // At unload a tick may be stuck behind the loader lock; such an instance is
  // left to its tick rather than freed under it. At process exit there is no
  // tick left to wait for.
  if (mode == Teardown::Normal) {
    keyer->AwaitStoppedClock(FskKeyer::kNoBound);
  } else if (mode == Teardown::ModuleUnload && !keyer->AwaitStoppedClock(kUnloadWaitMs)) {
    return;
  }
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
  auto* keyer = new (std::nothrow) FskKeyer;
  if (keyer == nullptr) return 0;
  {
    KeyerGuard guard;
    activeKeyer = keyer;
  }
  inSettingsStep = true;
  keyer->LoadSettings();
  inSettingsStep = false;
  return 1;
}

}  // namespace

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
    // Another thread may have died holding the lifecycle lock.
    CloseActive(Teardown::ProcessExit);
  } else if (AcquireWithin(lifecycleLock, kUnloadWaitMs)) {
    CloseActive(Teardown::ModuleUnload);
    lifecycleLock.Release();
  }
  // Otherwise another thread is inside an open or close while the host
  // unloads the module: the instance is left to it rather than waited for.
}
