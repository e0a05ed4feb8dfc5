// Win32 backend: HID class, device setup and device file operations.
#include <windows.h>

#include <setupapi.h>

// The HID headers lack C linkage guards in this SDK.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>

#include "platform/platform.h"
#include "platform/win32/win32_trampoline.h"

static_assert(ERROR_ACCESS_DENIED == plat::kErrorAccessDenied, "error value");
static_assert(ERROR_ALREADY_EXISTS == plat::kErrorAlreadyExists, "error value");

// Our records are handed to the system as its own: same sizes, same places.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == plat::kDeviceInterfaceDataSize, "32-bit layout");
// The detail record's size field holds the packed fixed part, not the allocation.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == plat::kDeviceInterfaceDetailSize,
              "32-bit layout");
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) ==
                  offsetof(plat::DeviceInterfaceDetail, DevicePath),
              "device path place");
static_assert(DIGCF_PRESENT == plat::kDigcfPresent, "flag value");
static_assert(DIGCF_DEVICEINTERFACE == plat::kDigcfDeviceInterface, "flag value");
static_assert(sizeof(HIDD_ATTRIBUTES) == plat::kHidAttributesSize, "32-bit layout");
static_assert(offsetof(HIDD_ATTRIBUTES, ProductID) == offsetof(plat::HidAttributes, ProductID),
              "HIDD_ATTRIBUTES layout");
static_assert(sizeof(HIDP_CAPS) == sizeof(plat::HidCaps), "HIDP_CAPS layout");
static_assert(offsetof(HIDP_CAPS, OutputReportByteLength) ==
                  offsetof(plat::HidCaps, OutputReportByteLength),
              "HIDP_CAPS layout");
static_assert(sizeof(GUID) == sizeof(plat::Guid), "GUID layout");
static_assert(sizeof(OVERLAPPED) == sizeof(plat::Overlapped), "OVERLAPPED layout");
static_assert(offsetof(OVERLAPPED, hEvent) == offsetof(plat::Overlapped, hEvent),
              "OVERLAPPED layout");

namespace {
HANDLE Native(plat::Handle handle) { return static_cast<HANDLE>(handle); }
// CreateFileA and SetupDiGetClassDevsA fail with INVALID_HANDLE_VALUE; the
// driver's fields hold none for it.
plat::Handle FromNative(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? nullptr : static_cast<plat::Handle>(handle);
}
}  // namespace

namespace {

using win32::CallOutside;

// What an abandoned tick does with the result of the call it waited in.
// Read from the import table at each call, like the calls themselves.
const void* DestroySet() { return reinterpret_cast<const void*>(&::SetupDiDestroyDeviceInfoList); }
const void* CloseHandleFn() { return reinterpret_cast<const void*>(&::CloseHandle); }
const void* FreePreparsed() { return reinterpret_cast<const void*>(&::HidD_FreePreparsedData); }

}  // namespace

namespace plat {

// Every call below but the first goes out through the tick's trampoline (see
// win32_trampoline.cpp), so that a tick waiting in one of them can be sent back
// to winmm.
void HidGetHidGuid(Guid* guid) { ::HidD_GetHidGuid(reinterpret_cast<GUID*>(guid)); }

Handle OpenInterfaceSet(const Guid* guid, uint32_t flags) {
  return FromNative(CallOutside(&::SetupDiGetClassDevsA, DestroySet(), false,
                                reinterpret_cast<const GUID*>(guid), nullptr, nullptr, flags));
}

bool NextInterface(Handle set, const Guid* guid, uint32_t index, DeviceInterfaceData* data) {
  return CallOutside(&::SetupDiEnumDeviceInterfaces, nullptr, false, Native(set), nullptr,
                     reinterpret_cast<const GUID*>(guid), index,
                     reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data)) != FALSE;
}

bool GetInterfaceDetail(Handle set, DeviceInterfaceData* data, DeviceInterfaceDetail* detail,
                        uint32_t detailSize, uint32_t* requiredSize) {
  DWORD required = 0;
  const BOOL ok = CallOutside(&::SetupDiGetDeviceInterfaceDetailA, nullptr, false, Native(set),
                              reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data),
                              reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail),
                              detailSize, &required, nullptr);
  if (requiredSize != nullptr) *requiredSize = required;
  return ok != FALSE;
}

bool CloseInterfaceSet(Handle set) {
  return CallOutside(&::SetupDiDestroyDeviceInfoList, nullptr, false, Native(set)) != FALSE;
}

Handle CreateDeviceFile(const char* path, bool overlapped) {
  return FromNative(CallOutside(&::CreateFileA, CloseHandleFn(), false, path,
                                GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0,
                                nullptr));
}

bool CloseHandle(Handle handle) {
  return CallOutside(&::CloseHandle, nullptr, false, Native(handle)) != FALSE;
}

Handle CreateEventObject(bool manualReset, bool initialState, const char* name) {
  return static_cast<Handle>(CallOutside(&::CreateEventA, CloseHandleFn(), false, nullptr,
                                         manualReset, initialState, name));
}

bool WriteFile(Handle handle, const void* data, uint32_t length, uint32_t* written) {
  DWORD count = 0;
  const BOOL ok =
      CallOutside(&::WriteFile, nullptr, true, Native(handle), data, length, &count, nullptr);
  *written = count;
  return ok != FALSE;
}

bool HidGetAttributes(Handle device, HidAttributes* attributes) {
  return CallOutside(&::HidD_GetAttributes, nullptr, false, Native(device),
                     reinterpret_cast<HIDD_ATTRIBUTES*>(attributes)) != FALSE;
}

bool HidGetPreparsedData(Handle device, PreparsedData* data) {
  // The call returns a BOOLEAN; what it allocates comes back in `preparsed`,
  // which is what an abandoned tick frees.
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  const BOOLEAN ok =
      CallOutside(&::HidD_GetPreparsedData, win32::Disposal(FreePreparsed(), &preparsed), false,
                  Native(device), &preparsed);
  *data = ok ? static_cast<PreparsedData>(preparsed) : nullptr;
  return ok != FALSE;
}

bool HidPGetCaps(PreparsedData data, HidCaps* caps) {
  return CallOutside(&::HidP_GetCaps, nullptr, false, static_cast<PHIDP_PREPARSED_DATA>(data),
                     reinterpret_cast<HIDP_CAPS*>(caps)) == HIDP_STATUS_SUCCESS;
}

bool HidFreePreparsedData(PreparsedData data) {
  return CallOutside(&::HidD_FreePreparsedData, nullptr, false,
                     static_cast<PHIDP_PREPARSED_DATA>(data)) != FALSE;
}

bool HidGetProductString(Handle device, void* buffer, uint32_t length) {
  return CallOutside(&::HidD_GetProductString, nullptr, false, Native(device), buffer, length) !=
         FALSE;
}

bool HidGetManufacturerString(Handle device, void* buffer, uint32_t length) {
  return CallOutside(&::HidD_GetManufacturerString, nullptr, false, Native(device), buffer,
                     length) != FALSE;
}

// A mutex in Global\: any user may make one there (unlike a section, which
// needs SeCreateGlobalPrivilege), it is one object for every session, and it
// outlives no process that holds it. Its default security is the maker's: a
// program of a lower integrity level, or another user, cannot open it, and
// CreateMutexA then fails with ERROR_ACCESS_DENIED, which says as plainly as
// ERROR_ALREADY_EXISTS that the box is held. Ownership is never used: a mutex
// is owned by a thread, and the claim must not be (the timer thread takes it,
// the host's thread gives it back).
Handle TakeClaim(const char* name) {
  HANDLE claim = CallOutside(&::CreateMutexA, CloseHandleFn(), false, nullptr, FALSE, name);
  if (claim == nullptr) return nullptr;
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return claim;
  // Opened, not made: someone else's.
  CallOutside(&::CloseHandle, nullptr, false, claim);
  ::SetLastError(ERROR_ALREADY_EXISTS);
  return nullptr;
}

}  // namespace plat
