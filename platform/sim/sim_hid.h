// Control side of the simulated HID bus: the box model (box_model.h) that the
// seam's device calls reach, and a few helpers over it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/box_model.h"

namespace sim {

// Devices, faults and the record of what the driver did, with the bus's lock
// held for the expression: sim::Box()->Unplug(slot).
BoxModel::Locked Box();
// The box as the driver expects it: generation 3.1, the given report length.
int AttachBox(uint16_t outputReportLength = kSimulatedReportLength);
// The reports that reached a device.
std::vector<BoxEvent> HidReports();
// CreateFileA calls that opened the device, both handles counted.
int HidOpens(int slot);

// From now on each enumeration waits, inside the device call, until released:
// a discovery stuck behind the loader lock. WaitForHeldEnumeration returns once
// one is waiting (false after timeoutMs of real time).
void HoldEnumerations();
bool WaitForHeldEnumeration(uint32_t timeoutMs);
void ReleaseEnumerations();

}  // namespace sim
