#include "hidlink/generation.h"

#include "platform/box_identity.h"

// The HID class returns UTF-16LE: a code unit's low eight bits come first.
// The product carries the generation as two digits at positions 13 and 15
// ("3.1"); boxes without them are known by their maker's initial.
Generation ReadGeneration(const uint8_t* product, const uint8_t* manufacturer) {
  const auto low8 = [](const uint8_t* utf16, int position) { return utf16[2 * position]; };
  const auto isDigit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  const uint8_t tens = low8(product, tarvokey::kGenerationTensAt);
  const uint8_t ones = low8(product, tarvokey::kGenerationOnesAt);
  if (isDigit(tens) && isDigit(ones)) {
    return {10 * (tens - '0') + (ones - '0'), GenerationSource::ProductDigits};
  }
  if (low8(manufacturer, 0) == 'J') return {10, GenerationSource::MakerInitial};
  return {99, GenerationSource::Neither};
}

// 0 is also the generation of an instance that has found no box yet.
bool AcceptsGeneration(int32_t generation) { return generation >= 1 && generation <= 98; }
