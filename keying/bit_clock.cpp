#include "keying/bit_clock.h"

#include "keying/element_holds.h"
#include "keying/timer_resolution.h"

Framing framing;
FskKeyer* clockOwner = nullptr;

namespace {
// The id of the latest timer whose callback reached this module. Under keyerLock.
uint32_t lastEnteredTimerId = 0;

// A hold in performance counter units.
uint64_t CounterUnits(uint64_t frequency, uint32_t ms) { return frequency * ms / 1000; }

// How late the tick that reads `now` came against its deadline.
int64_t LatenessUs(const FskKeyer& keyer, uint64_t now) {
  if (now <= keyer.tickDueAt || keyer.counterFrequency == 0) return 0;
  return static_cast<int64_t>(static_cast<double>(now - keyer.tickDueAt) * 1e6 /
                              static_cast<double>(keyer.counterFrequency));
}
}  // namespace

void ResetClockState() {
  KeyerGuard guard;
  framing = Framing{};
  clockOwner = nullptr;
  lastEnteredTimerId = 0;
  ResetHonouredResolution();
}

Element AdvanceFraming(int32_t& pendingChar, uint32_t bitsPerChar, uint32_t bitPeriodMs) {
  switch (framing.state) {
    case FrameState::DataBits: {
      const Level level = (framing.shiftReg & 1) ? Level::Mark : Level::Space;
      framing.shiftReg >>= 1;
      if (--framing.bitsLeft <= 0) framing.state = FrameState::StopBit;
      return {level, bitPeriodMs, ElementKind::Data};
    }
    case FrameState::StopBit:
      framing.state = FrameState::Idle;
      return {Level::Mark, StopHoldMs(bitPeriodMs), ElementKind::Stop};
    case FrameState::Idle:
    default:
      if (pendingChar != -1) {
        framing.shiftReg = pendingChar;
        framing.bitsLeft = static_cast<int32_t>(bitsPerChar);
        pendingChar = -1;
        framing.state = FrameState::DataBits;
        return {Level::Space, bitPeriodMs, ElementKind::Start};
      }
      framing.state = FrameState::Idle;
      return {Level::Mark, bitPeriodMs, ElementKind::Idle};
  }
}

void FskKeyer::StartClock() {
  const bool oneMs = plat::TimeBeginPeriod(1);
  BeginHonouredResolution();
  const HonouredResolution honoured = HonouredResolutionState();
  const uint64_t frequency = plat::PerformanceFrequency();
  // Armed under the lock so that the first callback cannot check timerId before
  // it holds the new id.
  KeyerGuard guard;
  Enter(KeyerState::Running);
  clockOwner = this;
  status.SetTimer(oneMs, honoured.state, honoured.error);
  counterFrequency = frequency;
  tickDueAt = plat::PerformanceCounter() + CounterUnits(frequency, bitPeriodMs);
  timerId = plat::TimeSetOneShot(bitPeriodMs, 0, &FskKeyer::OnBitTick, this);
}

void FskKeyer::StopClock(Teardown mode) {
  uint32_t armed = 0;
  {
    KeyerGuard guard(mode);
    if (state != KeyerState::Running) return;  // stopped already, by an unload
    stopMode = mode;
    armed = timerId;
    // At process exit the timer thread is gone and the system drops the
    // resolution request with the process; winmm may be half torn down.
    if (mode == Teardown::ProcessExit) {
      ForgetClock();
      Enter(KeyerState::Stopped);
      return;
    }
    Enter(KeyerState::Stopping);
  }
  plat::TimeEndPeriod(1);
  EndHonouredResolution();
  // A one-shot that can no longer be killed has fired: its callback is on its
  // way into this module and is seen out too, so that a FreeLibrary right
  // after close cannot unmap the code under it.
  if (armed != 0 && !plat::TimeKillEvent(armed)) {
    KeyerGuard guard;
    inFlightTimerId = armed;
  }
}

bool FskKeyer::AwaitStoppedClock(uint32_t tickBoundMs) {
  // A tick that had already started finishes (it will not re-arm) before the
  // instance goes on to the device link it shares with the ticks. The wait for
  // an in-flight callback is bounded always: if the timer facility broke its
  // word, nothing here depends on it.
  const uint32_t start = plat::MonotonicMs();
  for (;;) {
    bool running;
    bool inFlight;
    {
      KeyerGuard guard;
      if (inFlightTimerId != 0 && lastEnteredTimerId == inFlightTimerId) inFlightTimerId = 0;
      running = tickRunning;
      inFlight = inFlightTimerId != 0;
    }
    const uint32_t waited = plat::MonotonicMs() - start;
    if (running && tickBoundMs != kNoBound && waited >= tickBoundMs) return false;
    if (!running && (!inFlight || waited >= kInFlightWaitMs)) break;
    plat::SleepMs(1);
  }
  // A clock the host stopped sees every callback out of the tick's trampoline,
  // so that an unload after the close can give its page back. Not at unload,
  // under the loader lock: winmm may have to start a thread for it, which
  // cannot start before the unload is over (the page is kept then).
  if (stopMode == Teardown::Normal) plat::SeeTimerCallbacksOut(kCallbacksOutWaitMs);

  KeyerGuard guard;
  ForgetClock();
  Enter(KeyerState::Stopped);
  return true;
}

void FskKeyer::ForgetClock() {
  timerId = 0;
  if (clockOwner == this) clockOwner = nullptr;
}

void FskKeyer::OnBitTick(uint32_t firedId, void* user) {
  auto* keyer = static_cast<FskKeyer*>(user);
  if (keyer == nullptr) return;
  bool ofCharacter;
  {
    KeyerGuard guard;
    lastEnteredTimerId = firedId;
    // A callback already on its way when its clock was stopped is stale; so is
    // one for a freed instance whose address a new one reuses. The pointer is
    // only compared until it is known to be the running clock's.
    if (keyer != clockOwner || firedId != keyer->timerId || keyer->state != KeyerState::Running) {
      return;
    }
    keyer->tickRunning = true;
    // The one system call the tick makes for its figures.
    const uint64_t now = plat::PerformanceCounter();
    keyer->tickCounter = now;
    keyer->status.CountTick(now, LatenessUs(*keyer, now));

    plat::TimeKillEvent(keyer->timerId);
    const Element element =
        AdvanceFraming(keyer->pendingChar, keyer->bitsPerChar, keyer->bitPeriodMs);
    // Re-arm before keying and the report, so a slow report delays nothing
    // but itself. A failed arm leaves timerId 0: the clock has stopped.
    keyer->timerId = plat::TimeSetOneShot(element.holdMs, 0, &FskKeyer::OnBitTick, keyer);
    keyer->tickDueAt = now + CounterUnits(keyer->counterFrequency, element.holdMs);
    if (keyer->pttOn && keyer->txArmed) keyer->KeyFsk(element.level);
    if (element.kind == ElementKind::Start) {
      keyer->status.CountCharacter(now, keyer->afterStopElement);
    }
    keyer->afterStopElement = element.kind == ElementKind::Stop;
    ofCharacter = element.kind != ElementKind::Idle;
  }

  // No discovery once an unload has begun stopping the clock.
  keyer->SendReport(keyer->stopMode.load());
  // The link is the tick's: open now only if this element's report went out.
  const bool reached = keyer->deviceOpen;

  KeyerGuard guard;
  keyer->tickRunning = false;
  if (ofCharacter && !reached) keyer->status.ElementLost();
  keyer->status.Publish();
}
