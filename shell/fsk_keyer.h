// The driver instance: all per-instance state and the work done on it. The
// keying, device link and settings parts each implement their methods of it.
#pragma once

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "keying/element_holds.h"
#include "platform/box_identity.h"
#include "platform/platform.h"
#include "status/status_writer.h"

enum class Level : int { Space = 0, Mark = 1 };

// What tarvokey.ini said (settings/settings_reader.h), and where it was read.
struct SettingsValues;
enum class SettingsPlace;

// How far a teardown may go; chosen by whoever tears the instance down.
enum class Teardown {
  Normal,        // a host call: waits out a running tick, may look for the box
  ModuleUnload,  // FreeLibrary, under the loader lock: no discovery, the caller bounds its waits
  ProcessExit,   // the other threads are gone: no wait, no lock, no winmm, no discovery
};

// The one lock shared by the host's threads and the timer thread, over the
// instance's shared fields. It lives in the module, not in the instance, so a
// late timer callback never touches a lock that has been freed.
extern plat::Lock keyerLock;

// Holds keyerLock for one short step. A teardown passes its mode: when the
// process is exiting the other threads are gone (one may have died holding the
// lock) and nobody is left to race with, so the lock is not taken.
//
// No guard is ever held across a device call. Besides keeping the timer thread
// from waiting on a host thread that waits on the system, this is what lets an
// unload abandon a tick inside such a call: the tick returns to winmm through
// the trampoline without running a destructor, so a guard held there would
// never be released. The simulated trampoline abandons it the same way, and
// records a tick's device call made holding a lock of the module as a breach
// that fails the native tests.
class KeyerGuard {
 public:
  KeyerGuard() : KeyerGuard(Teardown::Normal) {}
  explicit KeyerGuard(Teardown mode) : held_(mode != Teardown::ProcessExit) {
    if (held_) keyerLock.Acquire();
  }
  ~KeyerGuard() {
    if (held_) keyerLock.Release();
  }
  KeyerGuard(const KeyerGuard&) = delete;
  KeyerGuard& operator=(const KeyerGuard&) = delete;

 private:
  bool held_;
};

// Where an instance is in its life. Under keyerLock; each change is made by
// FskKeyer::Enter, which asserts it is one of these (the table of every state
// of the module is in shell/lifecycle.h):
//   Built     -> Running     StartClock
//   Running   -> Stopping    StopClock: no tick re-arms or starts from now on
//   Running   -> Stopped     StopClock at process exit: no tick is left anywhere
//   Stopping  -> Stopped     AwaitStoppedClock: no tick runs, and none will
//   Stopping  -> Abandoned   an unload handed the teardown to a tick waiting
//                            inside the system; the link is the tick's, then nobody's
//   Stopped   -> Released    Release: the lines released, the device closed
enum class KeyerState { Built, Running, Stopping, Stopped, Released, Abandoned };

constexpr bool KeyerStateMayFollow(KeyerState from, KeyerState to) {
  switch (to) {
    case KeyerState::Running:
      return from == KeyerState::Built;
    case KeyerState::Stopping:
      return from == KeyerState::Running;
    case KeyerState::Stopped:
      return from == KeyerState::Running || from == KeyerState::Stopping;
    case KeyerState::Abandoned:
      return from == KeyerState::Stopping;
    case KeyerState::Released:
      return from == KeyerState::Stopped;
    case KeyerState::Built:
      break;
  }
  return false;
}

class FskKeyer final {
 public:
  // Sends the first report (which looks for the box, as `box` chooses it),
  // then starts the clock.
  explicit FskKeyer(BoxChoice box = {});
  // Stops the clock and releases the box, unless Release has done so already.
  ~FskKeyer();
  FskKeyer(const FskKeyer&) = delete;
  FskKeyer& operator=(const FskKeyer&) = delete;

  // The instance lives in the platform's memory, which a tick abandoned at
  // unload can free without the module's code. No memory: nullptr.
  static void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return plat::AllocateZeroed(size);
  }
  static void operator delete(void* memory) noexcept { plat::Free(memory); }
  static void operator delete(void* memory, const std::nothrow_t&) noexcept { plat::Free(memory); }

  // Line byte (keying/line_byte.cpp). Callers hold keyerLock.
  uint8_t SetPtt(bool on);
  void KeyFsk(Level level);
  // The host has asked whether the slot is busy: from now on the clock keys.
  void ArmKeying();

  // Bit clock (keying/bit_clock.cpp).
  void StartClock();
  // From now on no tick re-arms and none starts; the 1 ms resolution is given
  // back and the armed tick cancelled (not at process exit, where the system
  // drops both with the process).
  void StopClock(Teardown mode);
  // After StopClock: waits until no tick of this instance runs and a callback
  // that fired as the clock stopped has been seen out (stopped by the host:
  // every callback the timer thread began). A running tick is waited for at
  // most tickBoundMs; false if it still runs then.
  static constexpr uint32_t kNoBound = UINT32_MAX;
  bool AwaitStoppedClock(uint32_t tickBoundMs);
  static void OnBitTick(uint32_t timerId, void* user);
  void ForgetClock();  // the clock is done with: caller holds keyerLock

  // Sends the release report and closes the device. The clock must be stopped
  // with no tick running: the device link is then the caller's.
  void Release(Teardown mode);

  // Device link (hidlink/). Used by one thread at a time: the host's thread
  // before the clock starts and after it has stopped, the ticks in between.
  // Only a Normal report may look for the box.
  void SendReport(Teardown mode);  // writes outReport, as copied under keyerLock
  void WriteReport(Teardown mode);
  bool FindDevice();
  // The claim of the box at this path (hidlink/box_claim.cpp), before
  // anything more is asked of it: kept already, taken now, or not to be had
  // while nobody holds it. False when another program holds it.
  bool ClaimBox(const char* devicePath);
  // The box examined is linked: its claim is the one kept from now on.
  void KeepClaim();

  // Settings (settings/). Host's thread, clock already running; `read` is
  // tarvokey.ini as the open read it, from `place`.
  bool LoadSettings(const SettingsValues& read, SettingsPlace place);

  // Shared with the timer thread: read and written under keyerLock only.
  int32_t pendingChar = -1;
  uint32_t bitsPerChar = 5;
  int32_t hwGeneration = 0;
  bool txArmed = false;
  uint32_t timerId = 0;
  uint32_t bitPeriodMs = kBitMs;  // 45.45 baud
  uint8_t outReport[tarvokey::kReportLeadingBytes] = {tarvokey::kReportId, tarvokey::kReportCommand,
                                                      tarvokey::kLinesReleased};
  bool pttOn = false;
  bool fskReverse = false;
  bool fskOnPin3 = false;
  plat::HidCaps hidCaps{};
  plat::DeviceInterfaceDetail* detailData = nullptr;
  bool deviceOpen = false;
  plat::Handle DeviceHandle = nullptr;
  plat::Handle readEvent = nullptr;
  plat::Handle deviceInfoSet = nullptr;
  plat::Guid hidGuid{};
  plat::Overlapped readOverlapped{};
  uint32_t requiredSize = 0;
  plat::Handle ReadHandle = nullptr;

  // The box this instance may key, as tarvokey.ini chose it at the open.
  const BoxChoice boxChoice;
  // The claim on the box this instance linked (claimedKey), kept from its
  // first link to the close, whatever drops the link meanwhile: a failed
  // write or an unplug never hands the radio to a program waiting for it.
  // trialClaim: taken on another box under examination, until that box is
  // linked (its claim is then kept and the old one given back) or not.
  // boxKey: the box last examined; claimError: why its claim could not be
  // had (0 when it could). claimUnavailable: this program may not make the
  // claim while nobody holds it, and keys the box without one.
  plat::Handle boxClaim = nullptr;
  uint64_t claimedKey = 0;
  plat::Handle trialClaim = nullptr;
  uint64_t boxKey = 0;
  uint32_t claimError = 0;
  bool claimUnavailable = false;
  // What the last discovery found: a wait for the box (held elsewhere, or
  // the chosen one absent) is traced when it begins, not at every look.
  status::Link lastLook = status::Link::Looking;

  // Output report buffer (hidlink/), sized when a box is accepted so that the
  // ticks never allocate; in the platform's memory, as the instance is.
  struct PlatformFree {
    void operator()(uint8_t* memory) const { plat::Free(memory); }
  };
  std::unique_ptr<uint8_t[], PlatformFree> reportBuffer;
  uint32_t reportBufferSize = 0;

  // Under keyerLock. A tick runs only while the state is Running.
  KeyerState state = KeyerState::Built;
  // The state changes only here; the caller holds keyerLock (or, at process
  // exit, is alone).
  void Enter(KeyerState next) {
    assert(KeyerStateMayFollow(state, next));
    state = next;
  }
  // Clock bookkeeping, under keyerLock: set by a tick while it runs so
  // destruction can wait it out, and the timer that fired as the clock
  // stopped, whose callback is still to be seen out.
  bool tickRunning = false;
  uint32_t inFlightTimerId = 0;
  // How the clock was stopped. A tick reads it before it reports, so that no
  // discovery starts once an unload has begun.
  std::atomic<Teardown> stopMode{Teardown::Normal};

  // What the check program sees of the instance (status/status_record.h),
  // under keyerLock: each tick publishes what changed since the last.
  status::Writer status;
  // The section it is published to: made by the open, given up at release.
  plat::StatusSection statusSection;
  // The clock's time base, in performance counter units, under keyerLock: its
  // frequency, when the armed tick is due (its lateness is measured against
  // that), the counter the latest tick read, and whether that tick sent a
  // stop element (a start after it makes a character period).
  uint64_t counterFrequency = 0;
  uint64_t tickDueAt = 0;
  uint64_t tickCounter = 0;
  bool afterStopElement = false;

  uint8_t& portBits() { return outReport[tarvokey::kLineByteAt]; }
  uint8_t portBits() const { return outReport[tarvokey::kLineByteAt]; }
};
