#include "tools/check/timing.h"

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
  for (const timeline::ElementErrors& row : figures.rows) {
    console.Print(Format("  %-8s %7d %8.2f %7.2f %7.2f\n", row.kind, row.count, row.median, row.p99,
                         row.max));
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
