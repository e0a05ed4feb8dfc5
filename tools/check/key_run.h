// --key: keys the transmitter through the plug-in's own clock and measures
// the timing of every element the box received.
#pragma once

#include "tools/check/console.h"
#include "tools/check/texts.h"

struct KeyOptions {
  int seconds = 10;
  bool confirmed = false;  // --yes: no question before keying
};

constexpr int kMaxKeySeconds = 60;

// Returns the exit status: the box's verdict, or kExitBadArgument when the
// operator did not confirm.
int RunKey(Console& console, const Texts& texts, const KeyOptions& options);
