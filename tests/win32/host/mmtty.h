// Sends codes through the plug-in the way MMTTY does.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin.h"

struct Transmission {
  double pttOnMs = 0;   // box time of SetPTT(1)
  double pttOffMs = 0;  // box time of SetPTT(0)
  int32_t pttOnResult = 0;
  int32_t pttOffResult = 0;
  std::vector<double> putMs;  // box time of each extfskPutChar
};

// From the calling (UI) thread: SetPTT(1), `leadMs` of waiting, then a worker
// thread hands over the codes (while extfskIsTxBusy says 1 it sleeps 1 ms and
// asks again; after each extfskPutChar it sleeps 10 ms) and waits until the
// last code has been taken; then one character time and 200 ms more, and
// SetPTT(0).
Transmission TransmitLikeMmtty(Plugin& plugin, const std::vector<uint8_t>& codes,
                               unsigned leadMs = 250);
