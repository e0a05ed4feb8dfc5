#include "tools/check/timing.h"

#include <algorithm>
#include <cmath>

#include "platform/box_identity.h"
#include "tools/check/text.h"

namespace {

constexpr int kElementsPerCharacter = 7;  // start, five data bits, stop

enum class Kind { Off, Lead, Idle, Start, Data, Stop, Error };

struct Element {
  Kind kind;
  double ms;
};

// As a teleprinter on the radio's output would read the line: a character is
// a space after mark, five bits, and a mark stop.
std::vector<Element> Elements(const std::vector<ReportSample>& reports, const LineWiring& wiring,
                              std::vector<size_t>* wholeCharacters) {
  const uint8_t fskBit = wiring.pin3 ? tarvokey::kFskPin3Line : tarvokey::kFskPin1Line;
  std::vector<Element> elements;
  enum class State { Off, Lead, Idle, Data, Stop } state = State::Off;
  size_t start = 0;
  int bits = 0;
  for (const ReportSample& report : reports) {
    if (!report.written) break;
    const bool pttOn = (report.line & tarvokey::kPttLine) == 0;
    const bool mark = ((report.line & fskBit) != 0) == wiring.reverse;
    Kind kind;
    if (!pttOn) {
      kind = Kind::Off;
      state = State::Off;
    } else if (state == State::Off || state == State::Lead) {
      kind = mark ? Kind::Idle : Kind::Lead;
      state = mark ? State::Idle : State::Lead;
    } else if (state == State::Idle) {
      kind = mark ? Kind::Idle : Kind::Start;
      if (!mark) {
        state = State::Data;
        start = elements.size();
        bits = 0;
      }
    } else if (state == State::Data) {
      kind = Kind::Data;
      if (++bits == 5) state = State::Stop;
    } else {
      kind = mark ? Kind::Stop : Kind::Error;
      state = mark ? State::Idle : State::Lead;
      if (mark) wholeCharacters->push_back(start);
    }
    elements.push_back(Element{kind, report.ms});
  }
  // A stop element is whole only once the next report has ended it.
  if (!wholeCharacters->empty() &&
      wholeCharacters->back() + kElementsPerCharacter >= elements.size()) {
    wholeCharacters->pop_back();
  }
  return elements;
}

// As numpy takes them: the median of an even count is the mean of the middle
// two, percentiles interpolate linearly between ranks.
ElementErrors Summary(const char* kind, std::vector<double> errors) {
  std::sort(errors.begin(), errors.end());
  const size_t n = errors.size();
  const double median = n % 2 == 1 ? errors[n / 2] : (errors[n / 2 - 1] + errors[n / 2]) / 2;
  const double rank = 0.99 * static_cast<double>(n - 1);
  const size_t low = static_cast<size_t>(rank);
  const size_t high = std::min(low + 1, n - 1);
  const double p99 = errors[low] + (errors[high] - errors[low]) * (rank - static_cast<double>(low));
  return ElementErrors{kind, static_cast<int>(n), median, p99, errors.back()};
}

}  // namespace

TimingFigures MeasureTiming(const std::vector<ReportSample>& reports, const LineWiring& wiring) {
  std::vector<size_t> characters;
  const std::vector<Element> elements = Elements(reports, wiring, &characters);
  std::vector<double> start, data, stop, all;
  for (size_t first : characters) {
    for (int i = 0; i < kElementsPerCharacter; ++i) {
      const size_t at = first + static_cast<size_t>(i);
      const double nominal = elements[at].kind == Kind::Stop ? kStopMs : kBitMs;
      const double error = std::fabs(elements[at + 1].ms - elements[at].ms - nominal);
      (elements[at].kind == Kind::Start  ? start
       : elements[at].kind == Kind::Data ? data
                                         : stop)
          .push_back(error);
      all.push_back(error);
    }
  }
  TimingFigures figures;
  figures.characters = static_cast<int>(characters.size());
  if (all.empty()) return figures;
  figures.rows = {Summary("start", start), Summary("data", data), Summary("stop", stop),
                  Summary("all", all)};

  // Periods between start bits seven elements apart: characters back to back.
  double sum = 0;
  size_t previous = SIZE_MAX;
  for (size_t i = 0; i < elements.size(); ++i) {
    if (elements[i].kind != Kind::Start) continue;
    if (previous != SIZE_MAX && i - previous == kElementsPerCharacter) {
      sum += elements[i].ms - elements[previous].ms;
      ++figures.periods;
    }
    previous = i;
  }
  if (figures.periods > 0) figures.meanPeriodMs = sum / figures.periods;
  return figures;
}

bool PrintTiming(Console& console, const TimingFigures& figures) {
  if (figures.rows.empty()) {
    console.Print("No character was sent whole, so there is no timing to show.\n");
    console.Print("Timing on this PC: not measured.\n");
    return false;
  }
  console.Print("element length at the box, error against nominal (ms):\n");
  console.Print("  element    count   median     p99     max\n");
  for (const ElementErrors& row : figures.rows) {
    console.Print(Format("  %-8s %7d %8.2f %7.2f %7.2f\n", row.kind, row.count, row.median, row.p99,
                         row.max));
  }
  const ElementErrors& all = figures.rows.back();
  if (figures.periods == 0) {
    console.Print("character period: not measured, no two characters went back to back\n");
    console.Print("Timing on this PC: too few characters to judge.\n");
    return false;
  }
  console.Print(
      Format("character period: mean %.2f ms over %d back-to-back characters (165 "
             "nominal, %+.2f%%)\n",
             figures.meanPeriodMs, figures.periods,
             100 * (figures.meanPeriodMs - kCharacterMs) / kCharacterMs));
  console.Print(Format("baud rate: %.2f from the mean character period (45.45 nominal)\n",
                       7.5 * 1000 / figures.meanPeriodMs));
  const struct {
    const char* name;
    bool met;
  } targets[] = {
      {"median element error <= 1 ms", all.median <= 1.0},
      {"p99 element error <= 3 ms", all.p99 <= 3.0},
      {"mean character period within 1% of 165 ms",
       std::fabs(figures.meanPeriodMs - kCharacterMs) <= 1.65},
  };
  bool met = true;
  for (const auto& target : targets) {
    console.Print(Format("  %s  %s\n", target.met ? "met " : "MISS", target.name));
    met = met && target.met;
  }
  console.Print(met ? "Timing on this PC: within the benchmark's targets.\n"
                    : "Timing on this PC: NOT within the benchmark's targets.\n");
  return met;
}
