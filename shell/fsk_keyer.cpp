#include "shell/fsk_keyer.h"

#include "platform/handles.h"
#include "platform/trace.h"

plat::Lock keyerLock;

FskKeyer::FskKeyer(BoxChoice box) : boxChoice(box) {
  // Said once: no discovery runs to say it again.
  if (boxChoice.kind == BoxChoiceKind::Malformed) {
    Trace("FskBox in tarvokey.ini names no box key (16 hex digits): no box is keyed");
  }
  // The first report runs the first discovery, before the clock shares the link.
  SendReport(Teardown::Normal);
  StartClock();
}

FskKeyer::~FskKeyer() {
  // Released: closed as usual. Abandoned: what it held went to a tick.
  if (state == KeyerState::Released || state == KeyerState::Abandoned) return;
  StopClock(Teardown::Normal);
  AwaitStoppedClock(kNoBound);
  Release(Teardown::Normal);
}

void FskKeyer::Release(Teardown mode) {
  {
    KeyerGuard guard(mode);
    assert(state == KeyerState::Stopped);
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
  // After the release report: the lines are free for the next program.
  CloseIfOpen(boxClaim);
  CloseIfOpen(trialClaim);
  CloseIfOpen(readEvent);
  {
    KeyerGuard guard(mode);
    Enter(KeyerState::Released);
    status.Detach();  // the record says closed, for a monitor that still looks
  }
  plat::CloseStatusSection(&statusSection);
}
