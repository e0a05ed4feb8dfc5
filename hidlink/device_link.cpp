// Device link: finding the box and writing output reports to it.
#include "shell/fsk_keyer.h"

void FskKeyer::SendReport() {
  Trace("***HID Test Report***");
  // Under the loader lock a discovery could wait on the loader itself.
  if (!deviceOpen && teardownMode == Teardown::Normal) deviceOpen = FindDevice();
  if (deviceOpen) WriteReport();
}

void FskKeyer::WriteReport() {}

bool FskKeyer::FindDevice() {
  Trace("Device not detected");
  return false;
}
