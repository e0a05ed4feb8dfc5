// The tick's door, as both backends keep it: one word that says where the
// timer thread is, written by the door as the thread passes it and swapped by
// an unload that abandons the tick. The Windows door's machine code uses these
// values as immediates; its file checks them against this list.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tickdoor {

enum Place : int32_t {
  kOutside = 0,        // no callback in the module
  kInModule = 1,       // a callback runs the module's code
  kInSystemCall = 2,   // a tick waits inside one of its device calls
  kAbandoned = 3,      // an unload gave that tick a teardown to run on its way home
  kInReportWrite = 4,  // the same, inside the synchronous write of an output report
  kHeld = 5,           // an unload holds the tick there while it reads the teardown
};

// What the rest of the module may know of the place. A held tick is still
// inside its call as far as anyone but its holder is concerned.
constexpr plat::TickPlace TickPlaceOf(int32_t place) {
  switch (place) {
    case kOutside:
      return plat::TickPlace::Outside;
    case kInModule:
      return plat::TickPlace::InModule;
    case kInReportWrite:
      return plat::TickPlace::InReportWrite;
    case kInSystemCall:
    case kAbandoned:
    case kHeld:
      return plat::TickPlace::InSystemCall;
    default:
      return plat::TickPlace::Unknown;
  }
}

// The longest teardown an abandoned tick runs: the release report, each
// handle, the interface set and each block of memory, one step each.
constexpr int kMaxTeardownSteps =
    1 + static_cast<int>(sizeof(plat::AbandonedTickTeardown::handles) / sizeof(plat::Handle)) + 1 +
    static_cast<int>(sizeof(plat::AbandonedTickTeardown::memory) / sizeof(void*));

}  // namespace tickdoor
