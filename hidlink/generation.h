// Which generation of the box its strings name, and which generations the
// device link takes: the rule the link decides by, for the check program too.
#pragma once

#include <cstdint>

// Where a generation was read from.
enum class GenerationSource {
  ProductDigits,  // two digits at positions 13 and 15 of the product ("3.1": 31)
  MakerInitial,   // no such digits; the manufacturer begins with J: 10
  Neither,        // no digits, another maker: 99
};

struct Generation {
  int32_t value;
  GenerationSource source;
};

// The strings as the HID class returns them: UTF-16LE, zero-filled past their
// end, at least 16 code units each. A code unit counts by its low eight bits.
Generation ReadGeneration(const uint8_t* product, const uint8_t* manufacturer);

// Whether the link uses a box of this generation: 1 to 98.
bool AcceptsGeneration(int32_t generation);
