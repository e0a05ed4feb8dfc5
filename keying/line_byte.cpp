// The output line byte: PTT and FSK bits of portBits (1 = line open).
#include "platform/box_identity.h"
#include "shell/fsk_keyer.h"

using tarvokey::kFskPin1Line;
using tarvokey::kFskPin3Line;
using tarvokey::kPtt2Line;
using tarvokey::kPttLine;

uint8_t FskKeyer::SetPtt(bool on) {
  pttOn = on;
  status.SetPtt(on);
  uint8_t& bits = portBits();
  if (on) {
    // Only the PTT lines: the FSK line stays where the clock last put it.
    bits &= static_cast<uint8_t>(~(fskOnPin3 ? (kPttLine | kPtt2Line) : kPttLine));
  } else {
    // Release PTT and FSK together, so nothing stays keyed after receive.
    bits |= fskOnPin3 ? (kPttLine | kFskPin3Line | kPtt2Line) : (kPttLine | kFskPin1Line);
  }
  return bits;
}

void FskKeyer::ArmKeying() {
  if (txArmed) return;
  txArmed = true;
  status.SetKeyingArmed(true);
}

void FskKeyer::KeyFsk(Level level) {
  const uint8_t fskBit = fskOnPin3 ? kFskPin3Line : kFskPin1Line;
  // Normal polarity shorts the line (bit 0) for mark; reverse opens it.
  const bool open = (level == Level::Mark) == fskReverse;
  uint8_t& bits = portBits();
  bits = open ? static_cast<uint8_t>(bits | fskBit) : static_cast<uint8_t>(bits & ~fskBit);
}
