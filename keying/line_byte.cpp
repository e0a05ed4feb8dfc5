// The output line byte: PTT and FSK bits of portBits (1 = line open).
#include "shell/fsk_keyer.h"

namespace {
constexpr uint8_t kFskPin1 = 0x01;
constexpr uint8_t kPtt = 0x02;
constexpr uint8_t kFskPin3 = 0x04;
constexpr uint8_t kPtt2 = 0x08;
}  // namespace

uint8_t FskKeyer::SetPtt(bool on) {
  pttOn = on;
  uint8_t& bits = portBits();
  if (on) {
    // Only the PTT lines: the FSK line stays where the clock last put it.
    bits &= static_cast<uint8_t>(~(fskOnPin3 ? (kPtt | kPtt2) : kPtt));
  } else {
    // Release PTT and FSK together, so nothing stays keyed after receive.
    bits |= fskOnPin3 ? (kPtt | kFskPin3 | kPtt2) : (kPtt | kFskPin1);
  }
  return bits;
}

void FskKeyer::KeyFsk(Level level) {
  const uint8_t fskBit = fskOnPin3 ? kFskPin3 : kFskPin1;
  // Normal polarity shorts the line (bit 0) for mark; reverse opens it.
  const bool open = (level == Level::Mark) == fskReverse;
  uint8_t& bits = portBits();
  bits = open ? static_cast<uint8_t>(bits | fskBit) : static_cast<uint8_t>(bits & ~fskBit);
}
