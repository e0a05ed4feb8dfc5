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
static_assert(ERROR_INVALID_HANDLE == plat::kErrorInvalidHandle, "error value");
static_assert(ERROR_FILE_NOT_FOUND == plat::kErrorFileNotFound, "error value");

// Our records are handed to the system as its own: same sizes, same places.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == plat::kDeviceInterfaceDataSize, "32-bit layout");
// The detail record's size field holds the packed fixed part, not the allocation
// (https://learn.microsoft.com/en-us/windows/win32/api/setupapi/nf-setupapi-setupdigetdeviceinterfacedetaila).
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

// A mutex in Global\: one object for every session, and it outlives no
// process that holds it. Any user may make one there; only sections and
// symbolic links need SeCreateGlobalPrivilege ("Kernel Object Namespaces",
// https://learn.microsoft.com/en-us/windows/win32/termserv/kernel-object-namespaces).
// Ownership is never used: a mutex is owned by a thread, and the claim must
// not be (the timer thread takes it, the host's thread gives it back).
//
// How CreateMutexA answers, from its page
// (https://learn.microsoft.com/en-us/windows/win32/api/synchapi/nf-synchapi-createmutexa):
// - an existing mutex: its handle, with ERROR_ALREADY_EXISTS;
// - a name that belongs to an event, semaphore, waitable timer, job or
//   file-mapping object: NULL with ERROR_INVALID_HANDLE ("these objects share
//   the same namespace");
// - "if the caller has limited access rights, the function will fail with
//   ERROR_ACCESS_DENIED and the caller should use the OpenMutex function."
//   That error is ambiguous: an object whose default DACL is another user's
//   or an elevated program's (a program of a lower integrity level may not
//   open it), or a namespace in which this process may not create at all (an
//   AppContainer or low-integrity host). OpenMutexA tells them apart: it
//   fails with ERROR_FILE_NOT_FOUND only when no object has the name
//   (https://learn.microsoft.com/en-us/windows/win32/api/synchapi/nf-synchapi-openmutexw).
//   Any other answer shows an object there: held.
ClaimOutcome TakeClaim(const char* name, Handle* claim, uint32_t* error) {
  *claim = nullptr;
  HANDLE made = CallOutside(&::CreateMutexA, CloseHandleFn(), false, nullptr, FALSE, name);
  *error = ::GetLastError();
  if (made != nullptr && *error != ERROR_ALREADY_EXISTS) {
    *claim = made;
    *error = ERROR_SUCCESS;
    return ClaimOutcome::Taken;
  }
  if (made != nullptr) {
    // Opened, not made: someone else's.
    CallOutside(&::CloseHandle, nullptr, false, made);
    return ClaimOutcome::Held;
  }
  if (*error != ERROR_ACCESS_DENIED) return ClaimOutcome::Held;
  HANDLE existing = CallOutside(&::OpenMutexA, CloseHandleFn(), false, SYNCHRONIZE, FALSE, name);
  const DWORD openError = ::GetLastError();
  if (existing != nullptr) CallOutside(&::CloseHandle, nullptr, false, existing);
  ::SetLastError(ERROR_ACCESS_DENIED);
  return existing == nullptr && openError == ERROR_FILE_NOT_FOUND ? ClaimOutcome::Unavailable
                                                                  : ClaimOutcome::Held;
}

// Any object under the name, openable or not, is a holder.
bool ClaimHeld(const char* name) {
  HANDLE existing = ::OpenMutexA(SYNCHRONIZE, FALSE, name);
  const DWORD error = ::GetLastError();
  if (existing != nullptr) ::CloseHandle(existing);
  return existing != nullptr || error != ERROR_FILE_NOT_FOUND;
}

}  // namespace plat
