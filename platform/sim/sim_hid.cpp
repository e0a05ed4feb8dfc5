// Simulated HID bus. For now: no HID devices present.
#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace sim::detail {
void ResetHid() {}
}  // namespace sim::detail

namespace plat {

void HidGetHidGuid(Guid* guid) { *guid = Guid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}}; }
Handle SetupDiGetClassDevs(const Guid*, uint32_t) { return nullptr; }
bool SetupDiEnumDeviceInterfaces(Handle, const Guid*, uint32_t, DeviceInterfaceData*) {
  SetLastError(kErrorNoMoreItems);
  return false;
}
bool SetupDiGetDeviceInterfaceDetail(Handle, DeviceInterfaceData*, DeviceInterfaceDetail*, uint32_t, uint32_t*) { return false; }
bool SetupDiDestroyDeviceInfoList(Handle) { return true; }
Handle CreateDeviceFile(const char*, bool) { return nullptr; }
bool CloseHandle(Handle) { return true; }
Handle CreateEvent(bool, bool, const char*) { return nullptr; }
bool WriteFile(Handle, const void*, uint32_t, uint32_t*) { return false; }
bool HidGetAttributes(Handle, HidAttributes*) { return false; }
bool HidGetPreparsedData(Handle, PreparsedData*) { return false; }
bool HidPGetCaps(PreparsedData, HidCaps*) { return false; }
bool HidFreePreparsedData(PreparsedData) { return false; }
bool HidGetProductString(Handle, void*, uint32_t) { return false; }
bool HidGetManufacturerString(Handle, void*, uint32_t) { return false; }

}  // namespace plat
