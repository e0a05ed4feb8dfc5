#include "keying/timer_resolution.h"

#include "platform/platform.h"
#include "platform/trace.h"

namespace {

// The state belongs to the process, not to an instance: the first clock to
// start asks, the last to stop gives back.
plat::Lock resolutionLock;
int runningClocks = 0;
bool asked = false;  // our request is in force
HonouredResolution outcome{status::Throttling::NotAsked, 0};
plat::PowerThrottlingState before{};

constexpr plat::PowerThrottlingState kHonourTimerResolution{
    plat::kPowerThrottlingCurrentVersion, plat::kPowerThrottlingIgnoreTimerResolution, 0};
// What the system does with a process that never asked for anything.
constexpr plat::PowerThrottlingState kSystemManaged{plat::kPowerThrottlingCurrentVersion, 0, 0};

}  // namespace

// Before Windows 8 there is no such request, and earlier systems honour the
// resolution anyway: a refusal is traced and the clock runs as it would have.
void BeginHonouredResolution() {
  plat::LockGuard guard(resolutionLock);
  if (runningClocks++ > 0) return;
  // Where Windows cannot report the state, the process is taken to have left
  // it to the system, as nearly every host does.
  before = kSystemManaged;
  if (!plat::GetPowerThrottling(&before)) {
    TraceLastError("GetProcessInformation: ");
    before = kSystemManaged;
  }
  asked = plat::SetPowerThrottling(kHonourTimerResolution);
  if (asked) {
    outcome = {status::Throttling::On, 0};
    return;
  }
  TraceLastError("SetProcessInformation: ");
  const uint32_t error = plat::GetLastError();
  outcome = {error == plat::kErrorProcNotFound ? status::Throttling::NotAvailable
                                               : status::Throttling::Failed,
             error};
}

HonouredResolution HonouredResolutionState() {
  plat::LockGuard guard(resolutionLock);
  return outcome;
}

// A call replaces the whole state, so what the process had goes back whole.
void EndHonouredResolution() {
  plat::LockGuard guard(resolutionLock);
  if (runningClocks == 0 || --runningClocks > 0 || !asked) return;
  asked = false;
  if (!plat::SetPowerThrottling(before)) TraceLastError("SetProcessInformation: ");
}
