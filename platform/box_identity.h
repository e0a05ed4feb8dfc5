// What the TARVOKEY box is on the USB HID bus, as the driver relies on it.
#pragma once

#include <cstdint>

namespace tarvokey {

constexpr uint16_t kVendorId = 0x0BFE;
constexpr uint16_t kProductId = 0x0E00;

// The generation is read from two code units of the product string.
constexpr int kGenerationTensAt = 13;
constexpr int kGenerationOnesAt = 15;

// Output report: report ID, a constant 0x01, the line byte, then zeros up to
// the length the box declares (report ID byte included).
constexpr uint8_t kReportId = 0x00;
constexpr uint8_t kReportCommand = 0x01;
constexpr int kLineByteAt = 2;
constexpr int kReportLeadingBytes = 3;
// The line byte: one bit per output line, 1 = open (released), 0 = shorted.
constexpr uint8_t kFskPin1Line = 0x01;  // FSK, on pin 1
constexpr uint8_t kPttLine = 0x02;
constexpr uint8_t kFskPin3Line = 0x04;  // FSK, on pin 3 (Gen.3)
constexpr uint8_t kPtt2Line = 0x08;     // second PTT line, with pin 3
// Every line open: PTT and FSK released.
constexpr uint8_t kLinesReleased = 0x0F;

}  // namespace tarvokey

// Which box an instance keys, as tarvokey.ini's FskBox chooses it: with no
// FskBox, the first box the system lists; with one, the box of that key and
// no other; with an FskBox that names no key (or two that name different
// ones), none at all, since a guess could key another station's radio.
enum class BoxChoiceKind : uint8_t { FirstListed, Chosen, Malformed };
struct BoxChoice {
  BoxChoiceKind kind = BoxChoiceKind::FirstListed;
  uint64_t key = 0;  // with Chosen
};
