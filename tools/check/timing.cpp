#include "tools/check/timing.h"

#include <algorithm>
#include <string>

#include "keying/element_holds.h"
#include "keying/timer_resolution.h"
#include "tools/check/text.h"

bool PrintTiming(Console& console, const Texts& t, const timeline::Figures& figures) {
  if (figures.rows.empty()) {
    console.Print(t.noWholeCharacter);
    console.Print(t.timingNotMeasured);
    return false;
  }
  console.Print(t.timingHeading);
  console.Print(t.timingColumns);
  // Measure gives the rows in the order of the table's names (start, data,
  // stop, all); each name padded to the columns a console gives it.
  constexpr size_t kNames = sizeof t.timingRows / sizeof t.timingRows[0];
  for (size_t i = 0; i < figures.rows.size(); ++i) {
    const timeline::ElementErrors& row = figures.rows[i];
    const char* name = i < kNames ? t.timingRows[i] : row.kind;
    const std::string padding(static_cast<size_t>(std::max(0, 8 - DisplayWidth(name))), ' ');
    console.Print(Format("  %s%s %7d %8.2f %7.2f %7.2f\n", name, padding.c_str(), row.count,
                         row.median, row.p99, row.max));
  }
  if (figures.periods == 0) {
    console.Print(t.noPeriod);
    console.Print(t.tooFewCharacters);
    return false;
  }
  console.Print(Format(t.periodLine, figures.meanPeriodMs, figures.periods, kCharacterMs,
                       100 * (figures.meanPeriodMs - kCharacterMs) / kCharacterMs));
  // A character is 7.5 bits long.
  const double bitsPerCharacter = static_cast<double>(kCharacterMs) / kBitMs;
  console.Print(
      Format(t.baudLine, bitsPerCharacter * 1000 / figures.meanPeriodMs, 1000.0 / kBitMs));
  bool met = true;
  size_t index = 0;
  for (const bool targetMet : timeline::Targets(figures)) {
    console.Print(Format(targetMet ? t.targetMet : t.targetMissed, t.targets[index++]));
    met = met && targetMet;
  }
  console.Print(met ? t.timingWithin : t.timingNotWithin);
  return met;
}

void PrintTimerRequest(Console& console, const Texts& t) {
  const HonouredResolution request = HonouredResolutionState();
  switch (request.state) {
    case status::Throttling::On:
      console.Print(t.throttlingOn);
      break;
    case status::Throttling::NotAvailable:
      console.Print(t.throttlingNotAvailable);
      break;
    case status::Throttling::Failed:
      console.Print(Format(t.throttlingFailed, ErrorText(request.error, t.error).c_str()));
      break;
    case status::Throttling::NotAsked:
      break;
  }
}
