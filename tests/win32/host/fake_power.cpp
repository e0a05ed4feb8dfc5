#include "fake_power.h"

#include <cstring>

#include "fakes.h"
#include "locked.h"

namespace box {
namespace {

// Built before main: the system's GetProcAddress is read before anything
// patched an import table (a program that links the driver's code patches
// its own).
struct State {
  CRITICAL_SECTION lock;
  PROCESS_POWER_THROTTLING_STATE throttling = kHostPowerThrottling;
  std::vector<PROCESS_POWER_THROTTLING_STATE> calls;
  decltype(&::GetProcAddress) realGetProcAddress = &::GetProcAddress;
  State() { InitializeCriticalSection(&lock); }
};

State& S() { return FakeState<State>(); }
State& stateBuiltBeforeMain = S();

// Set and Get of this process's power throttling state. Each Set replaces
// the whole state, as Windows does.
BOOL PowerThrottlingCall(HANDLE process, PROCESS_INFORMATION_CLASS kind, LPVOID information,
                         DWORD size, bool set) {
  if (process != GetCurrentProcess() || kind != ProcessPowerThrottling || information == nullptr ||
      size != sizeof(PROCESS_POWER_THROTTLING_STATE)) {
    detail::Breach("Set/GetProcessInformation not for this process's power throttling");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Locked locked(S().lock);
  auto* state = static_cast<PROCESS_POWER_THROTTLING_STATE*>(information);
  if (set) {
    S().throttling = *state;
    S().calls.push_back(*state);
  } else {
    *state = S().throttling;
  }
  return TRUE;
}

BOOL WINAPI FakeSetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS kind,
                                      LPVOID information, DWORD size) {
  return PowerThrottlingCall(process, kind, information, size, true);
}

BOOL WINAPI FakeGetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS kind,
                                      LPVOID information, DWORD size) {
  return PowerThrottlingCall(process, kind, information, size, false);
}

// Whether the running Wine has these functions or not, the plug-in finds ours.
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  const bool byName = HIWORD(reinterpret_cast<uintptr_t>(name)) != 0;
  if (byName && module == GetModuleHandleA("kernel32.dll")) {
    if (std::strcmp(name, "SetProcessInformation") == 0) {
      return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSetProcessInformation));
    }
    if (std::strcmp(name, "GetProcessInformation") == 0) {
      return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeGetProcessInformation));
    }
  }
  return S().realGetProcAddress(module, name);
}

}  // namespace

PROCESS_POWER_THROTTLING_STATE PowerThrottling() {
  const Locked locked(S().lock);
  return S().throttling;
}

std::vector<PROCESS_POWER_THROTTLING_STATE> PowerThrottlingCalls() {
  const Locked locked(S().lock);
  return S().calls;
}

namespace detail {
std::vector<Redirect> PowerRedirects() {
  return {{"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress)}};
}
}  // namespace detail

}  // namespace box
