// The module's one instance: opening, closing and tearing it down at unload.
// The exports and the module entry are thin layers over this.
#pragma once

#include <cstdint>

class FskKeyer;

// The one open instance, or none. Read and written under keyerLock.
extern FskKeyer* activeKeyer;

// How long unload waits for a running tick, or for another thread's open or
// close, before it gives up on the instance rather than hang the host.
constexpr uint32_t kUnloadWaitMs = 250;

// Replaces any open instance with a new one and runs the settings step.
// 0 when no memory could be had.
int32_t OpenKeyer();
void CloseKeyer();

// Tears down an instance the host left open, from the module's unload
// notification. processExiting: the platform says the process is ending.
void CloseAtUnload(bool processExiting);
