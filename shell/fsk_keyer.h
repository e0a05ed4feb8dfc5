// The driver instance: all per-instance state and the work done on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

enum class Level : int { Space = 0, Mark = 1 };

class FskKeyer {
 public:
  FskKeyer();
  virtual ~FskKeyer();
  FskKeyer(const FskKeyer&) = delete;
  FskKeyer& operator=(const FskKeyer&) = delete;

  // Line byte (keying/line_byte.cpp). Callers hold keyerLock.
  uint8_t SetPtt(bool on);
  void KeyFsk(Level level);

  // Bit clock (keying/bit_clock.cpp).
  void StartClock();
  // Returns false only at module unload, when a running tick did not finish in
  // time; the instance must then be left alone.
  bool StopClock();
  static void OnBitTick(uint32_t timerId, void* user);

  // Device link (hidlink/). Used by one thread at a time: the host's thread
  // before the clock starts and after it has stopped, the ticks in between.
  void SendReport();  // writes outReport, as copied under keyerLock
  void WriteReport();
  bool FindDevice();

  // Settings (settings/). Host's thread, clock already running.
  bool LoadSettings();

  // Shared with the timer thread: read and written under keyerLock only.
  int32_t pendingChar = -1;
  uint32_t bitsPerChar = 5;
  int32_t hwGeneration = 0;
  bool txArmed = false;
  uint32_t timerId = 0;
  uint32_t bitPeriodMs = 22;
  uint8_t outReport[3] = {0x00, 0x01, 0x0F};
  bool pttOn = false;
  bool fskReverse = false;
  bool fskOnPin3 = false;
  plat::HidCaps hidCaps{};
  plat::DeviceInterfaceDetail* detailData = nullptr;
  bool deviceOpen = false;
  plat::Handle DeviceHandle = nullptr;
  plat::Handle readEvent = nullptr;
  plat::Handle deviceInfoSet = nullptr;
  plat::Guid hidGuid{};
  plat::Overlapped readOverlapped{};
  uint32_t requiredSize = 0;
  plat::Handle ReadHandle = nullptr;

  // Output report buffer (hidlink/), sized when a box is accepted so that the
  // ticks never allocate.
  std::unique_ptr<uint8_t[]> reportBuffer;
  uint32_t reportBufferSize = 0;

  // Clock bookkeeping, under keyerLock: set by StopClock so no tick re-arms,
  // and held by a tick while it runs so destruction can wait it out.
  bool clockStopping = false;
  bool tickRunning = false;

  uint8_t& portBits() { return outReport[2]; }
  uint8_t portBits() const { return outReport[2]; }
};

// Closes a handle if it is open and marks it closed, so nothing is closed twice.
inline void CloseIfOpen(plat::Handle& handle) {
  if (handle == nullptr) return;
  plat::CloseHandle(handle);
  handle = nullptr;
}

// The one open instance, or none. Read and written under keyerLock.
extern FskKeyer* activeKeyer;

// The one lock shared by the host's threads and the timer thread. It lives in
// the module, not in the instance, so a late timer callback never touches a
// lock that has been freed.
extern plat::Lock keyerLock;

// Diagnostic trace sink and its last-error variant.
void Trace(const char* line);
void TraceLastError(const char* label);

// How destruction behaves. Set only by the module's unload path, and read by a
// tick on the timer thread (no discovery once unload has begun).
enum class Teardown {
  Normal,        // host call: wait out a running tick
  ModuleUnload,  // FreeLibrary under the loader lock: bounded wait, no discovery
  ProcessExit,   // the other threads are gone: no wait, no lock, no discovery
};
extern std::atomic<Teardown> teardownMode;

// keyerLock, except when the process is exiting: then the other threads are
// gone (one may have died holding the lock) and nobody is left to race with.
class KeyerGuard {
 public:
  KeyerGuard() : held_(teardownMode != Teardown::ProcessExit) {
    if (held_) keyerLock.Acquire();
  }
  ~KeyerGuard() {
    if (held_) keyerLock.Release();
  }
  KeyerGuard(const KeyerGuard&) = delete;
  KeyerGuard& operator=(const KeyerGuard&) = delete;

 private:
  bool held_;
};
