#include "ita2.h"

#include <cctype>

namespace ita2 {
namespace {

// Index = code, bit 0 sent first. US teleprinter figures, as minimodem reads them.
const char kLetters[33] = "\0E\nA SIU\rDRJNFCKTZLWHYPQOBG\0MXV\0";
const char kFigures[33] =
    "\0"
    "3\n- \a87\r$4',!:(5\")2#6019?&\0./;\0";

enum class Shift { Letters, Figures };

// The code and the shift it needs; -1 if ITA2 has no such character. Space,
// CR and LF exist in both shifts.
int Lookup(char c, bool* figures) {
  for (int code = 1; code < 32; ++code) {
    if (code == kLtrs || code == kFigs) continue;
    if (kLetters[code] == c) {
      *figures = false;
      return code;
    }
  }
  for (int code = 1; code < 32; ++code) {
    if (code == kLtrs || code == kFigs || c == '\a') continue;
    if (kFigures[code] == c) {
      *figures = true;
      return code;
    }
  }
  return -1;
}

bool BothShifts(int code) { return code == 0x02 || code == 0x04 || code == 0x08; }

}  // namespace

std::vector<uint8_t> Encode(const std::string& text) {
  std::vector<uint8_t> codes;
  bool shifted = false;  // no shift sent yet
  Shift shift = Shift::Letters;
  for (char raw : text) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(raw)));
    bool figures = false;
    const int code = Lookup(c, &figures);
    if (code < 0) continue;
    const Shift wanted = figures ? Shift::Figures : Shift::Letters;
    if (!shifted || (!BothShifts(code) && wanted != shift)) {
      codes.push_back(BothShifts(code) || !figures ? kLtrs : kFigs);
      shift = BothShifts(code) ? Shift::Letters : wanted;
      shifted = true;
    }
    codes.push_back(static_cast<uint8_t>(code));
    if (code == 0x04) shift = Shift::Letters;
  }
  return codes;
}

std::string Printable(const std::string& text) {
  std::string result;
  for (char raw : text) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(raw)));
    bool figures = false;
    if (Lookup(c, &figures) >= 0) result += c;
  }
  return result;
}

std::vector<std::string> Labels(const std::vector<uint8_t>& codes) {
  std::vector<std::string> labels;
  Shift shift = Shift::Letters;
  for (uint8_t code : codes) {
    if (code == kLtrs || code == kFigs) {
      labels.push_back(code == kLtrs ? "LTRS" : "FIGS");
      shift = code == kLtrs ? Shift::Letters : Shift::Figures;
      continue;
    }
    const char c = (shift == Shift::Figures ? kFigures : kLetters)[code & 0x1F];
    labels.push_back(c == ' '    ? "SP"
                     : c == '\r' ? "CR"
                     : c == '\n' ? "LF"
                     : c == '\a' ? "BEL"
                     : c == '\0' ? "NUL"
                                 : std::string(1, c));
    if (code == 0x04) shift = Shift::Letters;  // unshift on space
  }
  return labels;
}

}  // namespace ita2
