#include "shell/fsk_keyer.h"

#include <cstdio>

#include "keying/bit_clock.h"

FskKeyer* activeKeyer = nullptr;
plat::Lock keyerLock;
std::atomic<Teardown> teardownMode{Teardown::Normal};

FskKeyer::FskKeyer() {
  portBits() = 0x0F;
  hwGeneration = 0;
  deviceOpen = false;
  outReport[0] = 0x00;
  outReport[1] = 0x01;
  readEvent = nullptr;
  hidCaps = plat::HidCaps{};
  fskReverse = false;
  fskOnPin3 = false;
  // The first report runs the first discovery, before the clock shares the link.
  SendReport();
  bitPeriodMs = 22;
  pendingChar = -1;
  bitsPerChar = 5;
  pttOn = false;
  txArmed = false;
  StartClock();
}

FskKeyer::~FskKeyer() {
  StopClock();
  {
    KeyerGuard guard;
    outReport[0] = 0x00;
    outReport[1] = 0x01;
    portBits() = 0x0F;  // every line released
  }
  SendReport();

  CloseIfOpen(DeviceHandle);
  TraceLastError("CloseHandle(DeviceHandle): ");
  CloseIfOpen(ReadHandle);
  TraceLastError("CloseHandle(ReadHandle): ");
  deviceOpen = false;
  CloseIfOpen(readEvent);
}

void Trace(const char* line) { plat::TraceLine(line); }

void TraceLastError(const char* label) {
  const uint32_t code = plat::GetLastError();
  // Nobody listens in the shipped module: skip the system message lookup that
  // would otherwise run several times per tick.
  if (!plat::TraceEnabled()) return;
  char* text = plat::FormatSystemMessage(code);
  char line[1024];
  std::snprintf(line, sizeof line, "%s%s", label, text != nullptr ? text : "");
  Trace(line);
  if (text != nullptr) plat::FreeSystemMessage(text);
  plat::SetLastError(code);
}
