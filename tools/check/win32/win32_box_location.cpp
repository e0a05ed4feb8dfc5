#include "tools/check/win32/win32_box_location.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

// The HID headers lack C linkage guards in this SDK.
extern "C" {
#include <hidsdi.h>
}

#include <vector>

#include "platform/platform.h"

#include "tools/check/text.h"

namespace {

// The HID interface's device node is the HID collection; the USB port is a
// property of the USB device above it, one level up for a plain HID device
// and two for a composite one (its interface node between). Each level's
// CM_DRP_LOCATION_INFORMATION is read
// (https://learn.microsoft.com/en-us/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_get_devnode_registry_propertyw)
// until one names a port; failing that, the first there is. That the USB hub
// driver words it "Port_#0002.Hub_#0001" is what Device Manager's Location
// shows on Windows XP to 11, not a documented format: a location worded
// otherwise is shown as it is. CM_Get_Parent and this call are setupapi.dll's
// from Windows 2000 on (cfgmgr32.dll forwards to them).
constexpr int kLevelsUp = 3;

std::string LocationAbove(DEVINST node) {
  std::string first;
  for (int level = 0; level < kLevelsUp; ++level) {
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
    node = parent;
    wchar_t text[256] = {};
    ULONG bytes = sizeof text - sizeof(wchar_t);
    if (CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_INFORMATION, nullptr, text, &bytes,
                                          0) != CR_SUCCESS) {
      continue;
    }
    const std::string location = Utf8(reinterpret_cast<const char16_t*>(text));
    if (location.compare(0, 6, "Port_#") == 0) return location;
    if (first.empty()) first = location;
  }
  return first;
}

}  // namespace

std::string BoxLocationOf(const std::string& devicePath) {
  GUID hid;
  HidD_GetHidGuid(&hid);
  HDEVINFO set =
      SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return {};
  std::string location;
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof interfaceData;
  DWORD size = 0;
  if (SetupDiOpenDeviceInterfaceA(set, devicePath.c_str(), 0, &interfaceData)) {
    // The device node comes with the detail record, asked for at its size.
    SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &size, nullptr);
  }
  if (size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) && size <= plat::kMaxInterfaceDetailSize) {
    std::vector<char> record(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, size, nullptr, &device)) {
      location = LocationAbove(device.DevInst);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return location;
}
