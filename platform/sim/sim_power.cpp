// Simulated process power throttling state. The host's threads alone call it.
#include "platform/sim/sim_power.h"

#include "platform/sim/sim.h"

namespace {

constexpr plat::PowerThrottlingState kSystemManaged{plat::kPowerThrottlingCurrentVersion, 0, 0};

sim::PowerThrottlingSupport support = sim::PowerThrottlingSupport::SetAndGet;
plat::PowerThrottlingState processState = kSystemManaged;
std::vector<plat::PowerThrottlingState> calls;

// False, with the error the system gives, where the call does not work.
bool Works(bool get) {
  using Support = sim::PowerThrottlingSupport;
  const uint32_t error = support == Support::Missing ? plat::kErrorProcNotFound
                         : support == Support::Refused || (support == Support::SetOnly && get)
                             ? plat::kErrorInvalidParameter
                             : plat::kErrorSuccess;
  if (error != plat::kErrorSuccess) plat::SetLastError(error);
  return error == plat::kErrorSuccess;
}

}  // namespace

namespace sim {

void SetPowerThrottlingSupport(PowerThrottlingSupport s) { support = s; }
plat::PowerThrottlingState ProcessPowerThrottling() { return processState; }
void SetProcessPowerThrottling(const plat::PowerThrottlingState& state) { processState = state; }
std::vector<plat::PowerThrottlingState> PowerThrottlingCalls() { return calls; }

namespace detail {
void ResetPower() {
  support = PowerThrottlingSupport::SetAndGet;
  processState = kSystemManaged;
  calls.clear();
}
}  // namespace detail

}  // namespace sim

namespace plat {

// A call replaces the whole state: a mechanism left out of ControlMask goes
// back to the system's management.
bool SetPowerThrottling(const PowerThrottlingState& state) {
  if (support != sim::PowerThrottlingSupport::Missing) calls.push_back(state);
  if (!Works(false)) return false;
  processState = state;
  return true;
}

bool GetPowerThrottling(PowerThrottlingState* state) {
  if (!Works(true)) return false;
  *state = processState;
  return true;
}

}  // namespace plat
