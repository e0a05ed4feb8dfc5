// Reads the keying back from the reports the box received, one report per
// element of the bit clock, as a teleprinter on the radio's output would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_box.h"

namespace timeline {

// Which bit carries FSK and which sense of it is mark.
struct Wiring {
  uint8_t fskBit = 0x01;  // 0x01 pin 1, 0x04 pin 3
  bool reverse = false;   // normal: line shorted (bit 0) is mark
  uint8_t pttBit = 0x02;
};

enum class Kind {
  Off,    // PTT off: nothing on the air
  Lead,   // PTT on, before the first mark: no character can start yet
  Idle,   // mark between characters
  Start,  // space that starts a character
  Data,
  Stop,
  Error,  // a stop element that was not mark
};
const char* Name(Kind kind);

struct Element {
  Kind kind;
  double ms;      // when the report was written
  double holdMs;  // until the next report; 0 for the last one
  uint8_t line;   // the report's line byte
  int bit;        // Data: the bit; otherwise the level (1 mark, 0 space)
};

struct Character {
  int code;
  size_t startElement;  // index of its start element
};

struct Keying {
  std::vector<Element> elements;
  std::vector<Character> characters;
};

// Successful writes only; a failed write put nothing on the line.
Keying Decode(const std::vector<box::Event>& reports, const Wiring& wiring);

}  // namespace timeline
