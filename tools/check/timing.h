// The timing of a keying run in the figures and words of the benchmark
// (scripts/bench), on the console.
#pragma once

#include "tools/check/console.h"
#include "tools/check/texts.h"
#include "tools/check/timeline.h"

// The benchmark's table, character period and targets, the baud rate, and a
// verdict line. True when the timing is within the targets.
bool PrintTiming(Console& console, const Texts& texts, const timeline::Figures& figures);

// What came of the plug-in's request that Windows keep the 1 ms timer of a
// minimised host, asked when the clock started; nothing before that.
void PrintTimerRequest(Console& console, const Texts& texts);
