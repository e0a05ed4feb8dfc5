#include "tools/check/timeline.h"

#include <algorithm>
#include <cmath>

#include "keying/element_holds.h"
#include "platform/box_identity.h"

namespace timeline {
namespace {

constexpr size_t kElementsPerCharacter = 7;  // start, five data bits, stop

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

const char* Name(Kind kind) {
  static const char* const kNames[] = {"off", "lead", "idle", "start", "data", "stop", "error"};
  return kNames[static_cast<int>(kind)];
}

Keying Read(const std::vector<Sample>& reports, const Wiring& wiring) {
  const uint8_t fskBit = wiring.pin3 ? tarvokey::kFskPin3Line : tarvokey::kFskPin1Line;
  Keying keying;
  enum class State { Off, Lead, Idle, Data, Stop } state = State::Off;
  int code = 0;
  int bits = 0;
  // A character begun but not yet read whole is dropped when it is cut.
  const auto cut = [&] {
    if (state == State::Data || state == State::Stop) keying.characters.pop_back();
  };
  for (const Sample& report : reports) {
    if (!keying.elements.empty() && !keying.elements.back().ended) {
      Element& last = keying.elements.back();
      last.holdMs = report.ms - last.ms;
      last.ended = true;
    }
    if (!report.written) {
      cut();
      state = State::Off;
      continue;
    }
    const bool pttOn = (report.line & tarvokey::kPttLine) == 0;
    const int level = ((report.line & fskBit) != 0) == wiring.reverse ? 1 : 0;
    Kind kind;
    if (!pttOn) {
      cut();
      kind = Kind::Off;
      state = State::Off;
    } else if (state == State::Off || state == State::Lead) {
      kind = level ? Kind::Idle : Kind::Lead;
      state = level ? State::Idle : State::Lead;
    } else if (state == State::Idle) {
      kind = level ? Kind::Idle : Kind::Start;
      if (!level) {
        state = State::Data;
        code = 0;
        bits = 0;
        keying.characters.push_back(Character{0, keying.elements.size()});
      }
    } else if (state == State::Data) {
      kind = Kind::Data;
      code |= level << bits;
      if (++bits == 5) state = State::Stop;
    } else {
      kind = level ? Kind::Stop : Kind::Error;
      if (level) {
        keying.characters.back().code = code;
        state = State::Idle;
      } else {
        cut();
        state = State::Lead;
      }
    }
    keying.elements.push_back(Element{kind, report.ms, 0, false, report.line, level});
  }
  cut();
  return keying;
}

Figures Measure(const Keying& keying) {
  const std::vector<Element>& elements = keying.elements;
  std::vector<double> start, data, stop, all;
  Figures figures;
  for (const Character& character : keying.characters) {
    const size_t first = character.startElement;
    if (!elements[first + kElementsPerCharacter - 1].ended) continue;
    ++figures.characters;
    for (size_t at = first; at < first + kElementsPerCharacter; ++at) {
      const Kind kind = elements[at].kind;
      const double error = std::fabs(elements[at].holdMs - (kind == Kind::Stop ? kStopMs : kBitMs));
      (kind == Kind::Start ? start : kind == Kind::Data ? data : stop).push_back(error);
      all.push_back(error);
    }
  }
  if (all.empty()) return figures;
  figures.rows = {Summary("start", start), Summary("data", data), Summary("stop", stop),
                  Summary("all", all)};

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

std::vector<bool> Targets(const Figures& figures) {
  if (figures.rows.empty() || figures.periods == 0) return {};
  const ElementErrors& all = figures.rows.back();
  return {all.median <= kMedianErrorTargetMs, all.p99 <= kP99ErrorTargetMs,
          std::fabs(figures.meanPeriodMs - kCharacterMs) <= kPeriodTolerance * kCharacterMs};
}

}  // namespace timeline
