// Win32 backend: the process's power throttling state.
#include <windows.h>

#include "platform/platform.h"

namespace {

static_assert(sizeof(PROCESS_POWER_THROTTLING_STATE) == sizeof(plat::PowerThrottlingState),
              "record size");
static_assert(PROCESS_POWER_THROTTLING_CURRENT_VERSION == plat::kPowerThrottlingCurrentVersion &&
                  PROCESS_POWER_THROTTLING_EXECUTION_SPEED ==
                      plat::kPowerThrottlingExecutionSpeed &&
                  PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION ==
                      plat::kPowerThrottlingIgnoreTimerResolution,
              "flags");

using ProcessInformationFn = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);

// Both came with Windows 8; imported, they would keep the module from loading
// on XP and 7, so they are looked up when needed:
// https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-setprocessinformation
bool CallKernel32(const char* name, PROCESS_POWER_THROTTLING_STATE* state) {
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  // Through void*, as FARPROC's type says nothing of the signature.
  auto call = reinterpret_cast<ProcessInformationFn>(
      reinterpret_cast<void*>(kernel32 != nullptr ? ::GetProcAddress(kernel32, name) : nullptr));
  if (call == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  return call(::GetCurrentProcess(), ProcessPowerThrottling, state, sizeof *state) != FALSE;
}

}  // namespace

namespace plat {

bool SetPowerThrottling(const PowerThrottlingState& state) {
  PROCESS_POWER_THROTTLING_STATE record{state.Version, state.ControlMask, state.StateMask};
  return CallKernel32("SetProcessInformation", &record);
}

bool GetPowerThrottling(PowerThrottlingState* state) {
  PROCESS_POWER_THROTTLING_STATE record{state->Version, state->ControlMask, state->StateMask};
  if (!CallKernel32("GetProcessInformation", &record)) return false;
  *state = PowerThrottlingState{record.Version, record.ControlMask, record.StateMask};
  return true;
}

}  // namespace plat
