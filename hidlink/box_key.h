// A box's identity on this PC, and the name of the claim by which one program
// at a time keys it (taken by hidlink/box_claim.cpp): two programs writing
// reports to one box between each other's would chatter its PTT and corrupt
// its FSK line on the air. Pure functions, for the check program too.
#pragma once

#include <cstddef>
#include <cstdint>

// The box's identity: its device interface path, which the system gives every
// program alike and which stays the box's on its USB port (inferred, as is the
// case-blind compare: a box listed on two ports in turn would prove them), as
// 64 bits (FNV-1a, ASCII letters folded to lower case). Never 0: no box.
uint64_t BoxKey(const char* devicePath);

// The key as it is shown and written (FskBox=, the status, the claim's name):
// 16 lower-case hex digits.
constexpr size_t kBoxKeyTextBytes = 17;
void BoxKeyText(uint64_t key, char (&text)[kBoxKeyTextBytes]);

// The name of a box's claim: Global\tarvokey-box-<the key in 16 hex digits>.
constexpr size_t kClaimNameBytes = 40;
void ClaimName(uint64_t key, char (&name)[kClaimNameBytes]);
