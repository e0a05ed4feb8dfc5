// Character framing and the bit clock that paces it.
#pragma once

#include <cstdint>

#include "shell/fsk_keyer.h"

enum class FrameState : int32_t { Idle = 0, DataBits = 1, StopBit = 2 };

// One set for the whole module: a character cut short by close is finished by
// the next instance's clock.
struct Framing {
  FrameState state = FrameState::Idle;
  int32_t shiftReg = 0;
  int32_t bitsLeft = 0;
};
extern Framing framing;

enum class ElementKind { Idle, Start, Data, Stop };

struct Element {
  Level level;
  uint32_t holdMs;
  ElementKind kind;
};

// Advances the framing by one element, taking the waiting character from
// pendingChar (emptying it) when a new character starts. Caller holds keyerLock.
Element AdvanceFraming(int32_t& pendingChar, uint32_t bitsPerChar, uint32_t bitPeriodMs);

// The instance whose clock runs, or none. Under keyerLock.
extern FskKeyer* clockOwner;

// The clock's module-wide state (the framing, which callback came last, the
// process's timer request) as a fresh load of the module has it. A load starts
// it so by itself; a program that runs the driver's code many times in one
// process (the native tests, the check program's tests) starts each time here.
void ResetClockState();

// How long a stopped clock waits for the callback of a timer that fired as it
// stopped.
constexpr uint32_t kInFlightWaitMs = 200;
// How long a clock the host stopped waits for the timer thread to show it has
// returned from every callback (plat::SeeTimerCallbacksOut): a timer period
// or two, unless that thread is kept busy or has to be started.
constexpr uint32_t kCallbacksOutWaitMs = 1000;
