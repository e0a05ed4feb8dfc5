// The tick's trampoline, as both backends keep it: one word that says where
// the timer thread is, written by the trampoline as the thread passes it and
// swapped by an unload that abandons the tick. The Windows trampoline's
// machine code uses these values as immediates; its file checks them against
// this list.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace trampoline {

enum Place : int32_t {
  kOutside = 0,        // no callback in the module
  kInModule = 1,       // a callback runs the module's code
  kInSystemCall = 2,   // a tick waits inside one of its device calls
  kAbandoned = 3,      // an unload gave that tick a teardown to run on its way out
  kInReportWrite = 4,  // the same, inside the synchronous write of an output report
  kParked = 5,         // an unload parks the tick there while it reads the teardown
};

// What the rest of the module may know of the place. A parked tick is still
// inside its call as far as anyone but the unload that parked it is concerned.
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
    case kParked:
      return plat::TickPlace::InSystemCall;
    default:
      return plat::TickPlace::Unknown;
  }
}

// Whether a timer callback may still come to the trampoline, as both backends
// keep it: the trampoline's page is given back at unload only when none can. A
// timer of the module's may call back from its arm until it is killed, and a
// callback the timer thread began before that (winmm does not wait for one that
// has fired, and one may not have reached the trampoline yet) until the timer
// thread has shown that it returned from every callback begun before a point at
// which no timer of the module's was armed (plat::SeeTimerCallbacksOut).
class CallbackLedger {
 public:
  void Armed(uint32_t id) {
    bool held = false;
    for (std::atomic<uint32_t>& slot : armed_) {
      uint32_t none = 0;
      if (slot.compare_exchange_strong(none, id)) {
        held = true;
        break;
      }
    }
    // More at once than the module ever arms: never known to be over.
    if (!held) untracked_ = true;
    ++arms_;
  }
  // Killed, whatever winmm answered: from now on it calls back no more, but
  // for a callback already begun.
  void Killed(uint32_t id) {
    for (std::atomic<uint32_t>& slot : armed_) {
      uint32_t armed = id;
      if (slot.compare_exchange_strong(armed, 0)) break;
    }
  }
  // Before the timer thread is asked: false if a timer is still armed; else
  // the arms so far, which its answer covers.
  bool NoneArmed(uint32_t* arms) const {
    *arms = arms_;
    if (untracked_) return false;
    for (const std::atomic<uint32_t>& slot : armed_) {
      if (slot != 0) return false;
    }
    return true;
  }
  // The timer thread has returned from every callback begun before it was
  // asked, when NoneArmed gave `arms`.
  void Proven(uint32_t arms) { proven_ = arms; }
  // No timer was armed since the last proof (or ever).
  bool NoCallbackCanCome() const { return !untracked_ && arms_ == proven_; }
  // As at load, for a program that runs the module's code many times.
  void Reset() {
    for (std::atomic<uint32_t>& slot : armed_) slot = 0;
    arms_ = proven_ = 0;
    untracked_ = false;
  }

 private:
  std::atomic<uint32_t> armed_[4] = {};
  std::atomic<uint32_t> arms_{0};
  std::atomic<uint32_t> proven_{0};
  std::atomic<bool> untracked_{false};
};

// The longest teardown an abandoned tick runs: the release report, each
// handle, the interface set and each block of memory, one step each.
constexpr int kMaxTeardownSteps =
    1 + static_cast<int>(sizeof(plat::AbandonedTickTeardown::handles) / sizeof(plat::Handle)) + 1 +
    static_cast<int>(sizeof(plat::AbandonedTickTeardown::memory) / sizeof(void*));

}  // namespace trampoline
