// The process's power throttling state, faked: the Set/GetProcessInformation
// the plug-in looks up at run time find these, whether or not the running
// Windows (or Wine) has them.
#pragma once

#include <windows.h>

#include <vector>

namespace box {

// As the host left it before loading the plug-in: full speed asked for.
constexpr PROCESS_POWER_THROTTLING_STATE kHostPowerThrottling = {
    PROCESS_POWER_THROTTLING_CURRENT_VERSION, PROCESS_POWER_THROTTLING_EXECUTION_SPEED, 0};
PROCESS_POWER_THROTTLING_STATE PowerThrottling();
// Every state SetProcessInformation was given, in order.
std::vector<PROCESS_POWER_THROTTLING_STATE> PowerThrottlingCalls();

}  // namespace box
