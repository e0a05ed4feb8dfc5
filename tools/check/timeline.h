// The keying a box received, read back element by element from the line byte
// of every report, as a teleprinter on the radio's output would read it, and
// its timing in the figures and targets of the benchmark. The check program
// reads the reports it watched; the Wine host reads those its box received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace timeline {

// One report, one element of the clock.
struct Sample {
  double ms;     // when it was written
  uint8_t line;  // its line byte
  bool written;  // a failed write put nothing on the line
};

// Which pin carries FSK, and which sense of it is mark.
struct Wiring {
  bool pin3 = false;
  bool reverse = false;  // normal: the line shorted (bit 0) is mark
};

enum class Kind {
  Off,    // PTT off: nothing on the air
  Lead,   // PTT on, before the first mark: no character can start yet
  Idle,   // mark between characters
  Start,  // the space that starts a character
  Data,
  Stop,
  Error,  // a stop element that was not mark
};
// "off", "lead", "idle", "start", "data", "stop", "error".
const char* Name(Kind kind);

// A written report.
struct Element {
  Kind kind;
  double ms;
  // Until the next report, written or not: how long the clock held it. Known
  // (ended) unless no report came after it; 0 then.
  double holdMs;
  bool ended;
  uint8_t line;
  int bit;  // Data: the bit; otherwise the level (1 mark, 0 space)
};

struct Character {
  int code;  // bit 0 sent first
  size_t startElement;
};

struct Keying {
  std::vector<Element> elements;
  // Read whole: a start, five bits and a mark stop. One cut by PTT off or the
  // end of the record is not; nor is one a failed write fell in, after which
  // reading starts afresh.
  std::vector<Character> characters;
};

Keying Read(const std::vector<Sample>& reports, const Wiring& wiring);

// ---- timing ---------------------------------------------------------------

// Absolute error of element lengths against their nominal length, in ms.
struct ElementErrors {
  const char* kind;  // "start", "data", "stop", or "all"
  int count;
  double median;  // as numpy takes them: an even count's median is the mean
  double p99;     // of the middle two, percentiles interpolate between ranks
  double max;
};

struct Figures {
  std::vector<ElementErrors> rows;  // the kinds, then "all"; empty if none
  int characters = 0;               // read whole, their stop ended by a report
  int periods = 0;                  // start bits seven elements apart
  double meanPeriodMs = 0;          // from one of those start bits to the next
};

// The elements of the characters read whole, and the periods of characters
// back to back.
Figures Measure(const Keying& keying);

// The benchmark's targets: element errors (median and 99th percentile) and
// the mean character period, as a share of the nominal one.
constexpr double kMedianErrorTargetMs = 1.0;
constexpr double kP99ErrorTargetMs = 3.0;
constexpr double kPeriodTolerance = 0.01;

// Whether each of the benchmark's targets is met, in the order of their
// names in the check program's texts; none without a period to judge.
std::vector<bool> Targets(const Figures& figures);

}  // namespace timeline
