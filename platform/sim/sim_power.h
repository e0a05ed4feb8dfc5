// Control side of the simulated process power throttling state.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Which Windows the process runs on, as far as the power throttling calls go.
enum class PowerThrottlingSupport {
  SetAndGet,  // both calls work, as on current Windows 11; after a reset
  SetOnly,    // GetProcessInformation does not know the class: ERROR_INVALID_PARAMETER
  Refused,    // both calls fail with ERROR_INVALID_PARAMETER
  Missing,    // neither function exists (before Windows 8): ERROR_PROC_NOT_FOUND
};
void SetPowerThrottlingSupport(PowerThrottlingSupport support);

// The process's state as the system holds it; after a reset the system's own
// management (masks 0). A test sets it to stand for the host's own choice.
plat::PowerThrottlingState ProcessPowerThrottling();
void SetProcessPowerThrottling(const plat::PowerThrottlingState& state);

// Every state SetProcessInformation was given, refused ones included.
std::vector<plat::PowerThrottlingState> PowerThrottlingCalls();

}  // namespace sim
