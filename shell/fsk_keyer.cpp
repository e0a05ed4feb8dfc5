#include "shell/fsk_keyer.h"

#include "platform/handles.h"
#include "platform/trace.h"

plat::Lock keyerLock;

FskKeyer::FskKeyer() {
  // The first report runs the first discovery, before the clock shares the link.
  SendReport(Teardown::Normal);
  StartClock();
}

FskKeyer::~FskKeyer() {
  if (released) return;
  StopClock(Teardown::Normal);
  AwaitStoppedClock(kNoBound);
  Release(Teardown::Normal);
}

void FskKeyer::Release(Teardown mode) {
  if (released) return;
  {
    KeyerGuard guard(mode);
    outReport[0] = tarvokey::kReportId;
    outReport[1] = tarvokey::kReportCommand;
    portBits() = tarvokey::kLinesReleased;
  }
  SendReport(mode);

  CloseIfOpen(DeviceHandle);
  TraceLastError("CloseHandle(DeviceHandle): ");
  CloseIfOpen(ReadHandle);
  TraceLastError("CloseHandle(ReadHandle): ");
  deviceOpen = false;
  CloseIfOpen(readEvent);
  released = true;
}
