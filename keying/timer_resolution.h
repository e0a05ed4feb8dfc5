// Keeping the 1 ms timer resolution while the host is out of sight.
#pragma once

#include <cstdint>

#include "status/status_record.h"

// Windows 11 may ignore the timer resolution that a process asked for while
// its windows are minimised, covered or hidden
// (https://learn.microsoft.com/windows/win32/api/timeapi/nf-timeapi-timebeginperiod),
// and hosts often run that way (behind a logging program). At about 15.6 ms a 22 ms element then
// lasts 31 ms. So while a clock runs, the process asks Windows to honour it. Called beside
// timeBeginPeriod and timeEndPeriod, as they are paired.
void BeginHonouredResolution();
void EndHonouredResolution();

// What came of the request, for the status record: in force, not available on
// this Windows (before 8, or no such call), or refused with the system's code.
struct HonouredResolution {
  status::Throttling state;
  uint32_t error;
};
HonouredResolution HonouredResolutionState();
// As at a fresh load: no clock counted, nothing asked.
void ResetHonouredResolution();
