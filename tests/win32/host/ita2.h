// ASCII text to 5-bit ITA2 codes, as an RTTY program sends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ita2 {

constexpr uint8_t kLtrs = 0x1F;
constexpr uint8_t kFigs = 0x1B;

// Starts with LTRS (or FIGS if the text starts with a figure) and inserts the
// shift codes the text needs. A space puts both ends back on letters
// (unshift on space, as RTTY programs and minimodem do). Lower case is sent
// as upper case; characters ITA2 cannot carry are dropped.
std::vector<uint8_t> Encode(const std::string& text);

// The text a receiver prints for `text`: upper case, without what was dropped.
std::string Printable(const std::string& text);

// What a receiver makes of each code, shifts followed: "LTRS", "FIGS", "SP",
// "CR", "LF", or the character.
std::vector<std::string> Labels(const std::vector<uint8_t>& codes);

}  // namespace ita2
