// The keying the box received, read back element by element from the line
// byte of every report, and its timing in the figures and words of the
// benchmark (scripts/bench).
#pragma once

#include <cstdint>
#include <vector>

#include "tools/check/console.h"

// The plug-in's keying at 45.45 baud: 22 ms bits, a 33 ms stop element, 7.5
// bits a character.
constexpr uint32_t kBitMs = 22;
constexpr uint32_t kStopMs = 33;
constexpr uint32_t kCharacterMs = 165;

// One report as the plug-in wrote it.
struct ReportSample {
  double ms;
  uint8_t line;  // the line byte
  bool written;  // a failed write put nothing on the line, and ends the reading
};

// Which bit carries FSK (pin 1 or pin 3), and which sense of it is mark.
struct LineWiring {
  bool pin3 = false;
  bool reverse = false;
};

// Absolute error of element lengths against their nominal length, in ms.
struct ElementErrors {
  const char* kind;  // "start", "data", "stop", or "all"
  int count;
  double median;
  double p99;
  double max;
};

struct TimingFigures {
  std::vector<ElementErrors> rows;  // the kinds seen, then "all"; empty if none
  int characters = 0;               // sent whole
  int periods = 0;                  // pairs of characters back to back
  double meanPeriodMs = 0;
};

// Elements of a character not sent whole (cut short by a stop, PTT off or a
// failed write) are left out.
TimingFigures MeasureTiming(const std::vector<ReportSample>& reports, const LineWiring& wiring);

// The benchmark's table, character period and targets, the baud rate, and a
// verdict line. True when the timing is within the targets.
bool PrintTiming(Console& console, const TimingFigures& figures);
