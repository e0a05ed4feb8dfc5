#include "hidlink/box_claim.h"

#include <cstdio>

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

void ClaimName(uint64_t key, char (&name)[kClaimNameBytes]) {
  std::snprintf(name, sizeof name, "Global\\tarvokey-box-%016llx",
                static_cast<unsigned long long>(key));
}

bool FskKeyer::ClaimBox(const char* devicePath) {
  boxKey = BoxKey(devicePath);
  char name[kClaimNameBytes];
  ClaimName(boxKey, name);
  boxClaim = plat::TakeClaim(name);
  claimError = boxClaim != nullptr ? plat::kErrorSuccess : plat::GetLastError();
  return boxClaim != nullptr;
}
