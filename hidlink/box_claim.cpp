// The claim an instance takes on a box, and keeps from its first link on.
#include "hidlink/box_key.h"

#include <cassert>

#include "platform/handles.h"
#include "platform/platform.h"
#include "shell/fsk_keyer.h"

bool FskKeyer::ClaimBox(const char* devicePath) {
  boxKey = BoxKey(devicePath);
  claimUnavailable = false;
  claimError = plat::kErrorSuccess;
  // Ours since it was linked: kept across the link's drops, never taken twice.
  if (boxClaim != nullptr && claimedKey == boxKey) return true;
  assert(trialClaim == nullptr);
  char name[kClaimNameBytes];
  ClaimName(boxKey, name);
  const plat::ClaimOutcome outcome = plat::TakeClaim(name, &trialClaim, &claimError);
  // Nobody holds it, but this program may not make the claim: keying it
  // unclaimed beats never keying it; the trace and the status say so.
  claimUnavailable = outcome == plat::ClaimOutcome::Unavailable;
  return outcome != plat::ClaimOutcome::Held;
}

void FskKeyer::KeepClaim() {
  if (boxClaim != nullptr && claimedKey == boxKey) return;  // kept already
  // The box linked before: another program may take it now. One linked
  // without a claim (none to be had) keeps none.
  CloseIfOpen(boxClaim);
  boxClaim = trialClaim;
  trialClaim = nullptr;
  claimedKey = boxClaim != nullptr ? boxKey : 0;
}
