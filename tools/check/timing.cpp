#include "tools/check/timing.h"

#include "keying/element_holds.h"
#include "tools/check/text.h"

bool PrintTiming(Console& console, const timeline::Figures& figures) {
  if (figures.rows.empty()) {
    console.Print("No character was sent whole, so there is no timing to show.\n");
    console.Print("Timing on this PC: not measured.\n");
    return false;
  }
  console.Print("element length at the box, error against nominal (ms):\n");
  console.Print("  element    count   median     p99     max\n");
  for (const timeline::ElementErrors& row : figures.rows) {
    console.Print(Format("  %-8s %7d %8.2f %7.2f %7.2f\n", row.kind, row.count, row.median, row.p99,
                         row.max));
  }
  if (figures.periods == 0) {
    console.Print("character period: not measured, no two characters went back to back\n");
    console.Print("Timing on this PC: too few characters to judge.\n");
    return false;
  }
  console.Print(
      Format("character period: mean %.2f ms over %d back-to-back characters (%u "
             "nominal, %+.2f%%)\n",
             figures.meanPeriodMs, figures.periods, kCharacterMs,
             100 * (figures.meanPeriodMs - kCharacterMs) / kCharacterMs));
  // A character is 7.5 bits long.
  const double bitsPerCharacter = static_cast<double>(kCharacterMs) / kBitMs;
  console.Print(Format("baud rate: %.2f from the mean character period (%.2f nominal)\n",
                       bitsPerCharacter * 1000 / figures.meanPeriodMs, 1000.0 / kBitMs));
  bool met = true;
  for (const timeline::Target& target : timeline::Targets(figures)) {
    console.Print(Format("  %s  %s\n", target.met ? "met " : "MISS", target.name));
    met = met && target.met;
  }
  console.Print(met ? "Timing on this PC: within the benchmark's targets.\n"
                    : "Timing on this PC: NOT within the benchmark's targets.\n");
  return met;
}
