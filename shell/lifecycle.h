// The module's one instance: opening, closing and tearing it down at unload.
// The exports and the module entry are thin layers over this.
//
// Every state of the module's life, where it is kept, and what moves it:
//
//   state                where, under which lock          moved by
//   -------------------  -------------------------------  ---------------------------------
//   instance open        activeKeyer, keyerLock           PublishKeyer (open); taken by
//                                                         close, a further open, unload
//   settings step        SettingsStep, lifecycleLock      the open's prompts; calls that
//                        (below)                          come back in from their loop
//   clock running,       FskKeyer::state, keyerLock       StartClock, StopClock,
//   stopping, stopped,   (KeyerState, shell/fsk_keyer.h)  AwaitStoppedClock, Release;
//   released, tick                                        at unload, the abandon of a tick
//   abandoned                                             waiting inside the system
//   a tick running       FskKeyer::tickRunning, keyerLock the tick itself
//   module kept mapped   ModuleLife, keyerLock (below)    an unload that leaves a host
//                                                         thread or a tick inside the module
//   where the timer      the trampoline's place word      the trampoline as the thread
//   thread is            (platform/trampoline.h)          passes it; AbandonTick parks,
//                                                         then abandons
//   trampoline closed    the trampoline, set once at      CloseTrampoline
//                        unload
//   trampoline's page    the backend                      an abandoned tick, a kept module,
//   kept                 (win32_trampoline.cpp)           a timer armed since the timer
//                                                         thread last showed every callback
//                                                         returned (the host's close asks)
//
// Locks, in the only order they are taken: lifecycleLock, then keyerLock. No
// code holding keyerLock takes lifecycleLock, and neither is held across a
// device call, a prompt or a wait for a tick. The process-wide timer request
// (keying/timer_resolution.cpp) and the simulated platform's own locks are
// leaves: nothing is taken while they are held.
#pragma once

#include <cstdint>

class FskKeyer;

// The one open instance, or none. Read and written under keyerLock.
extern FskKeyer* activeKeyer;

// At unload, how long a running tick is waited for before it is abandoned to
// the tick's trampoline: one inside a report write (which needs no loader lock,
// so a stalling box is waited out) and one anywhere else (a discovery may be
// waiting for the very loader lock the unload holds). The second is also how
// long unload waits for another host thread's open or close.
constexpr uint32_t kStalledWriteWaitMs = 2000;
constexpr uint32_t kUnloadWaitMs = 250;

// The host's open in progress, on the thread that holds lifecycleLock. A
// prompt's message loop may bring the host's extfskClose or extfskOpen back in
// on that thread; the last word is kept here and done when the settings step
// is over.
//   Outside     -> Inside                    the open reaches its settings step
//   Inside, *Asked -> CloseAsked, ReopenAsked  a call came back in
//   Inside, *Asked -> Outside                the open is done with the step
enum class SettingsStep { Outside, Inside, CloseAsked, ReopenAsked };

constexpr bool SettingsStepMayFollow(SettingsStep from, SettingsStep to) {
  return to == SettingsStep::Inside ? from == SettingsStep::Outside : from != SettingsStep::Outside;
}

// The module as a whole, under keyerLock.
//   Serving -> KeptForThreadInside   an unload left a host thread or a tick inside
//                                    the module's code: it asked to stay mapped,
//                                    and no new instance starts a clock in it
// A new load begins Serving, whatever the last one left (BeginModuleLife).
enum class ModuleLife { Serving, KeptForThreadInside };

constexpr bool ModuleLifeMayFollow(ModuleLife from, ModuleLife to) {
  return from == ModuleLife::Serving && to == ModuleLife::KeptForThreadInside;
}

// The module has just been loaded: no instance, and opens are allowed.
void BeginModuleLife();

// Makes a newly built instance the open one; false (and nothing changes) once
// an unload has let go of the module. The open's own way, and the check
// program's.
bool PublishKeyer(FskKeyer* keyer);

// Replaces any open instance with a new one and runs the settings step.
// 0 when no memory could be had, or after an unload that left a host thread
// inside the module.
int32_t OpenKeyer();
void CloseKeyer();

// Tears down an instance the host left open, from the module's unload
// notification. processExiting: the platform says the process is ending.
void CloseAtUnload(bool processExiting);
