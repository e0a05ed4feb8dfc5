// The module's one instance: opening, closing and tearing it down at unload.
// The exports and the module entry are thin layers over this.
#pragma once

#include <cstdint>

class FskKeyer;

// The one open instance, or none. Read and written under keyerLock.
extern FskKeyer* activeKeyer;

// At unload, how long a running tick is waited for before it is abandoned to
// the tick's door: one inside a report write (which needs no loader lock, so a
// stalling box is waited out) and one anywhere else (a discovery may be
// waiting for the very loader lock the unload holds). The second is also how
// long unload waits for another host thread's open or close.
constexpr uint32_t kStalledWriteWaitMs = 2000;
constexpr uint32_t kUnloadWaitMs = 250;

// The module has just been loaded: no instance, and opens are allowed.
void BeginModuleLife();

// Makes a new instance the module's one instance. False when the module takes
// no new one (an unload left a host thread inside it): the caller deletes it.
bool PublishKeyer(FskKeyer* keyer);

// Replaces any open instance with a new one and runs the settings step.
// 0 when no memory could be had, or after an unload that left a host thread
// inside the module.
int32_t OpenKeyer();
void CloseKeyer();

// Tears down an instance the host left open, from the module's unload
// notification. processExiting: the platform says the process is ending.
void CloseAtUnload(bool processExiting);
