// The exports: thin functions over the one instance in activeKeyer.
#include "shell/exports.h"

#include <new>

#include "keying/bit_clock.h"
#include "shell/fsk_keyer.h"

namespace {

// Serialises open and close across the host's threads. It is recursive: a
// prompt's message loop may call back into extfskOpen or extfskClose on the
// same thread, and those calls are deferred until the settings step is over.
plat::Lock lifecycleLock;
bool inSettingsStep = false;
enum class Deferred { None, Close, Reopen };
Deferred deferred = Deferred::None;

void CloseActive() {
  FskKeyer* keyer;
  {
    KeyerGuard guard;
    keyer = activeKeyer;
    activeKeyer = nullptr;
  }
  if (keyer == nullptr) return;
  // At unload a tick may be stuck behind the loader lock; such an instance is
  // left to its tick rather than freed under it.
  if (teardownMode != Teardown::Normal && !keyer->StopClock()) return;
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
  CloseActive();
  auto* keyer = new (std::nothrow) FskKeyer;
  if (keyer == nullptr) return 0;
  {
    plat::LockGuard guard(keyerLock);
    activeKeyer = keyer;
  }
  inSettingsStep = true;
  keyer->LoadSettings();
  inSettingsStep = false;
  return 1;
}

}  // namespace

extern "C" int32_t FSK_API extfskOpen(int32_t /*hostParameter*/) {
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
      CloseActive();
    } else {
      result = OpenNew();
    }
  }
  return result;
}

extern "C" void FSK_API extfskClose() {
  plat::LockGuard life(lifecycleLock);
  if (inSettingsStep) {
    deferred = Deferred::Close;
    return;
  }
  CloseActive();
}

extern "C" int32_t FSK_API extfskIsTxBusy() {
  plat::LockGuard guard(keyerLock);
  if (activeKeyer == nullptr) return 0;
  activeKeyer->txArmed = true;
  return activeKeyer->pendingChar != -1 ? 1 : 0;
}

extern "C" int32_t FSK_API extfskPutChar(int32_t character) {
  plat::LockGuard guard(keyerLock);
  if (activeKeyer == nullptr) return 0;
  activeKeyer->pendingChar = character & 0xFF;
  return activeKeyer->pendingChar;
}

extern "C" int32_t FSK_API extfskSetPTT(int32_t transmit) {
  plat::LockGuard guard(keyerLock);
  if (activeKeyer == nullptr) return 0;
  return activeKeyer->SetPtt(transmit != 0);
}

void CloseAtUnload(bool processExiting) {
  teardownMode = processExiting ? Teardown::ProcessExit : Teardown::ModuleUnload;
  if (processExiting) {
    // Another thread may have died holding the lifecycle lock.
    CloseActive();
  } else if (AcquireWithin(lifecycleLock, kUnloadWaitMs)) {
    CloseActive();
    lifecycleLock.Release();
  }
  // Otherwise another thread is inside an open or close while the host
  // unloads the module: the instance is left to it rather than waited for.
  teardownMode = Teardown::Normal;
}
