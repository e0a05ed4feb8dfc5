#include "keying/timer_resolution.h"

#include <cstdio>

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

// A call this Windows lacks (either, before Windows 8), or a class or flag it
// does not know (GetProcessInformation's before Windows 11 22H2, the timer
// resolution flag before Windows 11), which it refuses as a bad parameter (the
// versions are from SetProcessInformation's page; the error is inferred), or
// Wine as a function it does not implement. Such a system keeps the
// resolution anyway: nothing is wrong, and the trace says so rather than
// "procedure not found".
bool NotAvailable(uint32_t error) {
  return error == plat::kErrorProcNotFound || error == plat::kErrorInvalidParameter ||
         error == plat::kErrorInvalidFunction;
}

// The call's trace line: label and the system's text, or that it is not
// available.
void TraceRequest(const char* label) {
  if (!NotAvailable(plat::GetLastError())) {
    TraceLastError(label);
  } else if (plat::TraceEnabled()) {
    char line[80];
    std::snprintf(line, sizeof line, "%snot available on this Windows (fine)", label);
    Trace(line);
  }
}

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
    TraceRequest("GetProcessInformation: ");
    before = kSystemManaged;
  }
  asked = plat::SetPowerThrottling(kHonourTimerResolution);
  if (asked) {
    outcome = {status::Throttling::On, 0};
    return;
  }
  const uint32_t error = plat::GetLastError();
  TraceRequest("SetProcessInformation: ");
  outcome = {NotAvailable(error) ? status::Throttling::NotAvailable : status::Throttling::Failed,
             error};
}

void ResetHonouredResolution() {
  plat::LockGuard guard(resolutionLock);
  runningClocks = 0;
  asked = false;
  before = kSystemManaged;
  outcome = {status::Throttling::NotAsked, 0};
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
