#include "hidlink/box_claim.h"

#include <cassert>
#include <cstdio>

#include "platform/handles.h"
#include "platform/platform.h"
#include "shell/fsk_keyer.h"

uint64_t BoxKey(const char* devicePath) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char* c = devicePath; c != nullptr && *c != '\0'; ++c) {
    const unsigned char folded = *c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c;
    hash = (hash ^ folded) * 0x100000001B3ULL;
  }
  return hash != 0 ? hash : 1;
}

void BoxKeyText(uint64_t key, char (&text)[kBoxKeyTextBytes]) {
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(key));
}

void ClaimName(uint64_t key, char (&name)[kClaimNameBytes]) {
  char text[kBoxKeyTextBytes];
  BoxKeyText(key, text);
  std::snprintf(name, sizeof name, "Global\\tarvokey-box-%s", text);
}

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
  if (trialClaim == nullptr) return;  // kept already, or none to be had
  CloseIfOpen(boxClaim);              // the box linked before: another may take it now
  boxClaim = trialClaim;
  trialClaim = nullptr;
  claimedKey = boxKey;
}
