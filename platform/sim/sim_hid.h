// Control side of the simulated HID bus: scripted devices, faults on demand,
// and what the driver did to them (reports written, handles left open).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/box_identity.h"

namespace sim {

struct HidDevice {
  uint16_t vendorId = tarvokey::kVendorId;
  uint16_t productId = tarvokey::kProductId;
  // UTF-16 as the HID class returns them.
  std::u16string product = tarvokey::kSimulatedProduct;
  std::u16string manufacturer = tarvokey::kSimulatedManufacturer;
  bool productReadable = true;
  bool manufacturerReadable = true;
  // HIDP_CAPS.OutputReportByteLength, report ID byte included.
  uint16_t outputReportLength = tarvokey::kSimulatedReportLength;
  // Empty: made up from the device's place on the bus.
  std::string path;

  // Faults.
  bool failOpen = false;           // CreateFileA: ERROR_ACCESS_DENIED
  bool failAttributes = false;     // HidD_GetAttributes
  bool failPreparsedData = false;  // HidD_GetPreparsedData
  bool failCaps = false;           // HidP_GetCaps
  bool failDetailQuery = false;    // SetupDiGetDeviceInterfaceDetailA reports no size
  // The size the detail query reports instead of the true one.
  std::optional<uint32_t> reportedDetailSize;
  // The detail record's path comes without its terminating zero, and the
  // reported size does not count one.
  bool pathUnterminated = false;
  bool failWrites = false;  // WriteFile: ERROR_GEN_FAILURE
  // WriteFile says it succeeded but wrote one byte fewer than asked.
  bool shortWrites = false;
  // How long each write takes: the virtual clock moves on by it (timers do
  // not fire meanwhile), or in real-time mode the writing thread sleeps.
  uint32_t writeMs = 0;
};

// Adds a device behind the others in enumeration order; returns its id.
int AddHidDevice(const HidDevice& device);
// The box as the driver expects it: generation 3.1, the given report length.
int AttachBox(uint16_t outputReportLength = tarvokey::kSimulatedReportLength);
// Changes a device's script; its presence and open handles stay as they are.
void ChangeHidDevice(int id, const std::function<void(HidDevice&)>& change);
// Unplugging drops the device from enumeration and makes every handle opened
// on it fail for good with ERROR_DEVICE_NOT_CONNECTED. Replugging puts it back
// in its place; only handles opened afterwards work.
void UnplugHid(int id);
void ReplugHid(int id);

struct HidWrite {
  int device;
  uint32_t atMs;  // NowMs() when written
  std::vector<uint8_t> bytes;
  bool ok;
  uint32_t error;  // last error set by the write, 0 when it succeeded
};
// Every WriteFile on a device handle, in order, failed ones included.
std::vector<HidWrite> HidWrites();
// Reports that reached a device.
std::vector<HidWrite> HidReports();

struct HidHandleCounts {
  int device = 0;  // CreateFileA without FILE_FLAG_OVERLAPPED
  int read = 0;    // CreateFileA with FILE_FLAG_OVERLAPPED
  int events = 0;
  int infoSets = 0;
  int preparsedData = 0;
  int Total() const { return device + read + events + infoSets + preparsedData; }
};
HidHandleCounts OpenHidHandles();

// Calls the real platform would reject or crash on: closing a handle twice or
// one it never gave out, HidP_GetCaps or HidD_FreePreparsedData with data that
// HidD_GetPreparsedData did not give, writes to a handle it does not know.
std::vector<std::string> HidMisuses();

// Device information sets made (one per discovery).
int HidEnumerations();
// From now on each enumeration waits, inside the device call, until released:
// a discovery stuck behind the loader lock. WaitForHeldEnumeration returns once
// one is waiting (false after timeoutMs of real time).
void HoldEnumerations();
bool WaitForHeldEnumeration(uint32_t timeoutMs);
void ReleaseEnumerations();
// CreateFileA calls that opened the device, both handles counted.
int HidOpens(int id);

}  // namespace sim
