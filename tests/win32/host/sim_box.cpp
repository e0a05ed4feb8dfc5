#include "sim_box.h"

#include <setupapi.h>

// The HID headers lack C linkage guards in this SDK.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>

#include "iat_patch.h"

namespace box {
namespace {

const GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct Slot {
  Device device;
  std::string path;
  bool present;
  int instance;  // bumped by every replug: handles of an older instance are dead
};

struct DeviceHandle {
  int slot;
  int instance;
  bool overlapped;
};

// Everything lives in one object that is never destroyed: the plug-in may
// call in from its unload notification, late in the process.
struct State {
  CRITICAL_SECTION lock;
  LARGE_INTEGER epoch;
  LARGE_INTEGER frequency;
  // Fake handles are addresses in a reserved, inaccessible range, so they can
  // never be mistaken for a real handle or dereferenced by accident.
  uintptr_t rangeStart = 0;
  uintptr_t rangeEnd = 0;
  uintptr_t nextId = 0;

  std::vector<Slot> slots;
  std::map<uintptr_t, DeviceHandle> handles;   // open device handles
  std::map<uintptr_t, std::vector<int>> sets;  // open enumeration sets: listed slots
  std::map<uintptr_t, int> preparsed;          // live preparsed data: its slot
  std::set<HANDLE> events;                     // real events not yet closed
  int eventsCreated = 0;

  // The system's own functions, read from the import table before anything
  // patched it: the box may be installed in the very program it lives in,
  // whose imports then lead back here.
  decltype(&::CreateFileA) realCreateFileA = &::CreateFileA;
  decltype(&::WriteFile) realWriteFile = &::WriteFile;
  decltype(&::CloseHandle) realCloseHandle = &::CloseHandle;
  decltype(&::CreateEventA) realCreateEventA = &::CreateEventA;

  std::vector<Event> log;
  double lastWriteMs = -1;
  size_t reportCount = 0;
  int discoveries = 0;
  std::vector<Prompt> prompts;
  PROCESS_POWER_THROTTLING_STATE throttling = kHostPowerThrottling;
  std::vector<PROCESS_POWER_THROTTLING_STATE> throttlingCalls;
  // Read before anything patched an import table: a program that installs
  // the box in its own imports would otherwise be led back here.
  decltype(&::GetProcAddress) realGetProcAddress = &::GetProcAddress;
  std::deque<int> answers;
  DWORD promptDelayMs = 0;
  int failWrites = 0;
  DWORD failError = ERROR_GEN_FAILURE;
  int stallWrites = 0;
  DWORD stallMs = 0;
  bool holdEnumeration = false;
  DWORD holdMs = 0;
  // Signalled when a held enumeration, a stalled write or a prompt begins.
  HANDLE enumerationHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE writeStalled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE promptShown = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::string> faults;
  LONG inLink = 0;

  State() {
    InitializeCriticalSection(&lock);
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&epoch);
    const SIZE_T size = 1 << 20;
    void* base = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    rangeStart = reinterpret_cast<uintptr_t>(base);
    rangeEnd = rangeStart + size;
    nextId = rangeStart + 0x100;
  }
};

State& S() {
  static State* state = new State;
  return *state;
}
// Built before main, while the process has one thread.
State& stateBuiltBeforeMain = S();

class Locked {
 public:
  Locked() { EnterCriticalSection(&S().lock); }
  ~Locked() { LeaveCriticalSection(&S().lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

void Fault(const std::string& what) {
  Locked locked;
  S().faults.push_back(what);
}

std::string Hex(uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
  return text;
}

// The device link is used by one thread at a time; two threads inside it at
// once is a fault of the plug-in's serialisation.
class LinkCall {
 public:
  explicit LinkCall(const char* name) {
    if (InterlockedIncrement(&S().inLink) > 1) {
      Fault(std::string(name) + ": device link entered by two threads at once");
    }
  }
  ~LinkCall() { InterlockedDecrement(&S().inLink); }
  LinkCall(const LinkCall&) = delete;
  LinkCall& operator=(const LinkCall&) = delete;
};

uintptr_t NewId() {
  const uintptr_t id = S().nextId;
  S().nextId += 4;
  return id;
}

bool IsFake(const void* handle) {
  const auto value = reinterpret_cast<uintptr_t>(handle);
  return value >= S().rangeStart && value < S().rangeEnd;
}

// The time the current thread's call into the box began (calls do not nest).
thread_local double callStartMs = 0;

void Log(EventKind kind, int slot, uintptr_t handle, bool overlapped, bool ok,
         std::vector<uint8_t> bytes = {}) {
  S().log.push_back(Event{kind, NowMs(), callStartMs, GetCurrentThreadId(), slot, handle,
                          overlapped, ok, std::move(bytes)});
  if (kind == EventKind::Write) {
    ++S().reportCount;
    S().lastWriteMs = S().log.back().ms;
  }
}

// Looks up an open device handle. Caller holds the lock.
DeviceHandle* FindHandle(HANDLE handle, const char* call) {
  auto it = S().handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it != S().handles.end()) return &it->second;
  S().faults.push_back(std::string(call) + " on a handle that is not an open device: " +
                       Hex(reinterpret_cast<uintptr_t>(handle)));
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

bool Alive(const DeviceHandle& handle) {
  const Slot& slot = S().slots[handle.slot];
  return slot.present && slot.instance == handle.instance;
}

// ---- kernel32 ---------------------------------------------------------------

HANDLE WINAPI FakeCreateFileA(LPCSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
  callStartMs = NowMs();
  int slot = -1;
  {
    Locked locked;
    for (size_t i = 0; path != nullptr && i < S().slots.size(); ++i) {
      if (S().slots[i].path == path) slot = static_cast<int>(i);
    }
  }
  if (slot < 0) {
    return S().realCreateFileA(path, access, share, security, disposition, flags, templateFile);
  }

  LinkCall call("CreateFileA");
  Locked locked;
  if (access != (GENERIC_READ | GENERIC_WRITE) || share != (FILE_SHARE_READ | FILE_SHARE_WRITE) ||
      security != nullptr || disposition != OPEN_EXISTING ||
      (flags != 0 && flags != FILE_FLAG_OVERLAPPED) || templateFile != nullptr) {
    S().faults.push_back("CreateFileA of a device with access " + Hex(access) + ", share " +
                         Hex(share) + ", disposition " + Hex(disposition) + ", flags " +
                         Hex(flags));
  }
  const bool overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
  if (!S().slots[slot].present) {
    Log(EventKind::OpenFailed, slot, 0, overlapped, false);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const uintptr_t id = NewId();
  S().handles[id] = DeviceHandle{slot, S().slots[slot].instance, overlapped};
  Log(EventKind::Open, slot, id, overlapped, true);
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HANDLE>(id);
}

BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                          LPOVERLAPPED overlapped) {
  callStartMs = NowMs();
  {
    Locked locked;
    if (!IsFake(file)) {
      return S().realWriteFile(file, data, length, written, overlapped);
    }
  }
  LinkCall call("WriteFile");
  DWORD stall = 0;
  DWORD error = ERROR_SUCCESS;
  int slot = -1;
  std::vector<uint8_t> bytes;
  {
    Locked locked;
    DeviceHandle* handle = FindHandle(file, "WriteFile");
    if (handle == nullptr) return FALSE;
    slot = handle->slot;
    if (overlapped != nullptr) S().faults.push_back("WriteFile with an overlapped record");
    if (written == nullptr) S().faults.push_back("WriteFile without a count of bytes written");
    if (handle->overlapped) S().faults.push_back("report written through the overlapped handle");
    const uint16_t declared = S().slots[slot].device.outputReportLength;
    if (data != nullptr) {
      const auto* first = static_cast<const uint8_t*>(data);
      bytes.assign(first, first + length);
    }
    if (length != declared) {
      S().faults.push_back("report of " + std::to_string(length) +
                           " bytes to a device that declares " + std::to_string(declared));
      error = ERROR_INVALID_PARAMETER;
    } else if (!Alive(*handle)) {
      error = ERROR_DEVICE_NOT_CONNECTED;
    } else if (S().failWrites > 0) {
      --S().failWrites;
      error = S().failError;
    }
    if (S().stallWrites > 0) {
      --S().stallWrites;
      stall = S().stallMs;
    }
  }
  if (stall != 0) {
    SetEvent(S().writeStalled);
    Sleep(stall);
  }

  Locked locked;
  const bool ok = error == ERROR_SUCCESS;
  Log(EventKind::Write, slot, reinterpret_cast<uintptr_t>(file), false, ok, std::move(bytes));
  if (written != nullptr) *written = ok ? length : 0;
  SetLastError(error);
  return ok ? TRUE : FALSE;
}

BOOL WINAPI FakeCloseHandle(HANDLE object) {
  callStartMs = NowMs();
  {
    Locked locked;
    if (S().events.erase(object) != 0) return S().realCloseHandle(object);
    if (object == nullptr || object == INVALID_HANDLE_VALUE) {
      S().faults.push_back("CloseHandle of " + Hex(reinterpret_cast<uintptr_t>(object)));
    }
    if (!IsFake(object)) return S().realCloseHandle(object);
  }
  LinkCall call("CloseHandle");
  Locked locked;
  if (FindHandle(object, "CloseHandle") == nullptr) return FALSE;
  const DeviceHandle handle = S().handles[reinterpret_cast<uintptr_t>(object)];
  S().handles.erase(reinterpret_cast<uintptr_t>(object));
  Log(EventKind::Close, handle.slot, reinterpret_cast<uintptr_t>(object), handle.overlapped, true);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                               LPCSTR name) {
  // The plug-in's read-side event, which it asks for with an empty name: it
  // must be manual reset, signalled and unnamed (a named event would be shared
  // with any process that used the name). Events a test program makes for
  // itself come with no name at all.
  if (name != nullptr && (security != nullptr || !manualReset || !initialState || *name != '\0')) {
    Fault("CreateEventA not for an unnamed, signalled, manual-reset event");
  }
  HANDLE event = S().realCreateEventA(security, manualReset, initialState, name);
  const DWORD error = GetLastError();
  if (event != nullptr) {
    Locked locked;
    S().events.insert(event);
    ++S().eventsCreated;
  }
  SetLastError(error);
  return event;
}

// ---- user32 -------------------------------------------------------------------

int ShowPrompt(Prompt prompt) {
  DWORD delay;
  {
    Locked locked;
    if (S().answers.empty()) {
      S().faults.push_back("unexpected prompt: " + prompt.caption);
    } else {
      prompt.answer = S().answers.front();
      S().answers.pop_front();
    }
    delay = S().promptDelayMs;
  }
  SetEvent(S().promptShown);
  if (delay != 0) Sleep(delay);
  Locked locked;
  prompt.endMs = NowMs();
  S().prompts.push_back(prompt);
  return prompt.answer;
}

int WINAPI FakeMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  return ShowPrompt(Prompt{NowMs(), 0, GetCurrentThreadId(), owner, text != nullptr ? text : "",
                           caption != nullptr ? caption : "", style, IDCANCEL, false, L"", L""});
}

int WINAPI FakeMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  return ShowPrompt(Prompt{NowMs(), 0, GetCurrentThreadId(), owner, "", "", style, IDCANCEL, true,
                           text != nullptr ? text : L"", caption != nullptr ? caption : L""});
}

// ---- kernel32, looked up at run time --------------------------------------------

// Set and Get of this process's power throttling state. Each Set replaces
// the whole state, as Windows does.
BOOL PowerThrottlingCall(HANDLE process, PROCESS_INFORMATION_CLASS kind, LPVOID information,
                         DWORD size, bool set) {
  Locked locked;
  if (process != GetCurrentProcess() || kind != ProcessPowerThrottling || information == nullptr ||
      size != sizeof(PROCESS_POWER_THROTTLING_STATE)) {
    S().faults.push_back("Set/GetProcessInformation not for this process's power throttling");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* state = static_cast<PROCESS_POWER_THROTTLING_STATE*>(information);
  if (set) {
    S().throttling = *state;
    S().throttlingCalls.push_back(*state);
  } else {
    *state = S().throttling;
  }
  return TRUE;
}

BOOL WINAPI FakeSetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS kind,
                                      LPVOID information, DWORD size) {
  return PowerThrottlingCall(process, kind, information, size, true);
}

BOOL WINAPI FakeGetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS kind,
                                      LPVOID information, DWORD size) {
  return PowerThrottlingCall(process, kind, information, size, false);
}

// Whether the running Wine has these functions or not, the plug-in finds ours.
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  const bool byName = HIWORD(reinterpret_cast<uintptr_t>(name)) != 0;
  if (byName && module == GetModuleHandleA("kernel32.dll")) {
    if (std::strcmp(name, "SetProcessInformation") == 0) {
      return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSetProcessInformation));
    }
    if (std::strcmp(name, "GetProcessInformation") == 0) {
      return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeGetProcessInformation));
    }
  }
  return S().realGetProcAddress(module, name);
}

// ---- setupapi -----------------------------------------------------------------

// Holds the caller, then needs the loader lock, as the real enumeration may.
void HoldEnumerationIfAsked() {
  DWORD hold;
  {
    Locked locked;
    if (!S().holdEnumeration) return;
    S().holdEnumeration = false;
    hold = S().holdMs;
  }
  SetEvent(S().enumerationHeld);
  Sleep(hold);
  if (HMODULE dll = LoadLibraryA("msimg32.dll")) FreeLibrary(dll);
}

HDEVINFO WINAPI FakeSetupDiGetClassDevsA(const GUID* guid, PCSTR enumerator, HWND parent,
                                         DWORD flags) {
  LinkCall call("SetupDiGetClassDevsA");
  callStartMs = NowMs();
  HoldEnumerationIfAsked();
  Locked locked;
  if (guid == nullptr || !IsEqualGUID(*guid, kHidGuid) || enumerator != nullptr ||
      parent != nullptr || flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
    S().faults.push_back("SetupDiGetClassDevsA not for present HID interfaces, flags " +
                         Hex(flags));
  }
  ++S().discoveries;
  std::vector<int> listed;
  for (size_t i = 0; i < S().slots.size(); ++i) {
    if (S().slots[i].present) listed.push_back(static_cast<int>(i));
  }
  const uintptr_t id = NewId();
  S().sets[id] = listed;
  Log(EventKind::Enumerate, -1, id, false, true);
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HDEVINFO>(id);
}

const std::vector<int>* FindSet(HDEVINFO set, const char* call) {
  auto it = S().sets.find(reinterpret_cast<uintptr_t>(set));
  if (it != S().sets.end()) return &it->second;
  S().faults.push_back(std::string(call) + " on a set that is not open");
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

BOOL WINAPI FakeSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                            const GUID* guid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
  LinkCall call("SetupDiEnumDeviceInterfaces");
  Locked locked;
  const std::vector<int>* listed = FindSet(set, "SetupDiEnumDeviceInterfaces");
  if (listed == nullptr) return FALSE;
  if (deviceInfo != nullptr || guid == nullptr || !IsEqualGUID(*guid, kHidGuid)) {
    S().faults.push_back("SetupDiEnumDeviceInterfaces not for the HID class of the whole set");
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    S().faults.push_back("SetupDiEnumDeviceInterfaces with an interface record of size " +
                         std::to_string(data != nullptr ? data->cbSize : 0));
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (index >= listed->size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->InterfaceClassGuid = kHidGuid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = static_cast<ULONG_PTR>((*listed)[index] + 1);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI FakeSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                 DWORD detailSize, PDWORD requiredSize,
                                                 PSP_DEVINFO_DATA) {
  LinkCall call("SetupDiGetDeviceInterfaceDetailA");
  Locked locked;
  const std::vector<int>* listed = FindSet(set, "SetupDiGetDeviceInterfaceDetailA");
  if (listed == nullptr) return FALSE;
  const int slot = data != nullptr ? static_cast<int>(data->Reserved) - 1 : -1;
  bool known = false;
  for (int s : *listed) known = known || s == slot;
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || !known) {
    S().faults.push_back(
        "SetupDiGetDeviceInterfaceDetailA with an interface record not from the set");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string& path = S().slots[slot].path;
  const DWORD needed =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (detail == nullptr) {
    if (detailSize != 0) {
      S().faults.push_back("SetupDiGetDeviceInterfaceDetailA: size without a buffer");
      SetLastError(ERROR_INVALID_USER_BUFFER);
      return FALSE;
    }
    // The size query "fails": that is how the system reports the size.
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    S().faults.push_back("SetupDiGetDeviceInterfaceDetailA with a detail record size field of " +
                         std::to_string(detail->cbSize));
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (detailSize < needed) {
    S().faults.push_back(
        "SetupDiGetDeviceInterfaceDetailA with a buffer smaller than it asked for");
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI FakeSetupDiDestroyDeviceInfoList(HDEVINFO set) {
  LinkCall call("SetupDiDestroyDeviceInfoList");
  Locked locked;
  if (FindSet(set, "SetupDiDestroyDeviceInfoList") == nullptr) return FALSE;
  S().sets.erase(reinterpret_cast<uintptr_t>(set));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// ---- hid ----------------------------------------------------------------------

void __stdcall FakeHidD_GetHidGuid(LPGUID guid) {
  LinkCall call("HidD_GetHidGuid");
  *guid = kHidGuid;
}

BOOLEAN __stdcall FakeHidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
  LinkCall call("HidD_GetAttributes");
  Locked locked;
  DeviceHandle* handle = FindHandle(device, "HidD_GetAttributes");
  if (handle == nullptr) return FALSE;
  if (attributes == nullptr || attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
    S().faults.push_back("HidD_GetAttributes with a record whose Size is not set");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!Alive(*handle)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  const Device& d = S().slots[handle->slot].device;
  attributes->VendorID = d.vendorId;
  attributes->ProductID = d.productId;
  attributes->VersionNumber = 0x0100;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOLEAN __stdcall FakeHidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) {
  LinkCall call("HidD_GetPreparsedData");
  Locked locked;
  DeviceHandle* handle = FindHandle(device, "HidD_GetPreparsedData");
  if (handle == nullptr) return FALSE;
  if (!Alive(*handle)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  const uintptr_t id = NewId();
  S().preparsed[id] = handle->slot;
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(id);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

NTSTATUS __stdcall FakeHidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  LinkCall call("HidP_GetCaps");
  Locked locked;
  auto it = S().preparsed.find(reinterpret_cast<uintptr_t>(data));
  if (it == S().preparsed.end()) {
    S().faults.push_back("HidP_GetCaps with preparsed data the system did not give out");
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  std::memset(caps, 0, sizeof *caps);
  caps->UsagePage = 0xFF00;
  caps->Usage = 0x01;
  caps->InputReportByteLength = S().slots[it->second].device.outputReportLength;
  caps->OutputReportByteLength = S().slots[it->second].device.outputReportLength;
  return HIDP_STATUS_SUCCESS;
}

BOOLEAN __stdcall FakeHidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  LinkCall call("HidD_FreePreparsedData");
  Locked locked;
  if (S().preparsed.erase(reinterpret_cast<uintptr_t>(data)) == 0) {
    S().faults.push_back("HidD_FreePreparsedData of data that is not live");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOLEAN GetString(HANDLE device, PVOID buffer, ULONG length, bool product, const char* call) {
  Locked locked;
  DeviceHandle* handle = FindHandle(device, call);
  if (handle == nullptr) return FALSE;
  if (!Alive(*handle)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  const Device& d = S().slots[handle->slot].device;
  if (!d.stringsReadable) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const std::wstring& text = product ? d.product : d.manufacturer;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (buffer == nullptr || length < bytes) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, text.c_str(), bytes);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOLEAN __stdcall FakeHidD_GetProductString(HANDLE device, PVOID buffer, ULONG length) {
  LinkCall call("HidD_GetProductString");
  return GetString(device, buffer, length, true, "HidD_GetProductString");
}

BOOLEAN __stdcall FakeHidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG length) {
  LinkCall call("HidD_GetManufacturerString");
  return GetString(device, buffer, length, false, "HidD_GetManufacturerString");
}

struct Redirect {
  const char* dll;
  const char* function;
  void* replacement;
};

const Redirect kRedirects[] = {
    {"kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&FakeCreateFileA)},
    {"kernel32.dll", "WriteFile", reinterpret_cast<void*>(&FakeWriteFile)},
    {"kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&FakeCloseHandle)},
    {"kernel32.dll", "CreateEventA", reinterpret_cast<void*>(&FakeCreateEventA)},
    {"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress)},
    {"user32.dll", "MessageBoxA", reinterpret_cast<void*>(&FakeMessageBoxA)},
    {"user32.dll", "MessageBoxW", reinterpret_cast<void*>(&FakeMessageBoxW)},
    {"setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void*>(&FakeSetupDiGetClassDevsA)},
    {"setupapi.dll", "SetupDiEnumDeviceInterfaces",
     reinterpret_cast<void*>(&FakeSetupDiEnumDeviceInterfaces)},
    {"setupapi.dll", "SetupDiGetDeviceInterfaceDetailA",
     reinterpret_cast<void*>(&FakeSetupDiGetDeviceInterfaceDetailA)},
    {"setupapi.dll", "SetupDiDestroyDeviceInfoList",
     reinterpret_cast<void*>(&FakeSetupDiDestroyDeviceInfoList)},
    {"hid.dll", "HidD_GetHidGuid", reinterpret_cast<void*>(&FakeHidD_GetHidGuid)},
    {"hid.dll", "HidD_GetAttributes", reinterpret_cast<void*>(&FakeHidD_GetAttributes)},
    {"hid.dll", "HidD_GetPreparsedData", reinterpret_cast<void*>(&FakeHidD_GetPreparsedData)},
    {"hid.dll", "HidP_GetCaps", reinterpret_cast<void*>(&FakeHidP_GetCaps)},
    {"hid.dll", "HidD_FreePreparsedData", reinterpret_cast<void*>(&FakeHidD_FreePreparsedData)},
    {"hid.dll", "HidD_GetProductString", reinterpret_cast<void*>(&FakeHidD_GetProductString)},
    {"hid.dll", "HidD_GetManufacturerString",
     reinterpret_cast<void*>(&FakeHidD_GetManufacturerString)},
};

}  // namespace

double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - S().epoch.QuadPart) * 1000.0 /
         static_cast<double>(S().frequency.QuadPart);
}

std::vector<std::string> Install(HMODULE plugin) {
  std::vector<std::string> missing;
  for (const Redirect& r : kRedirects) {
    if (iat::Patch(plugin, r.dll, r.function, r.replacement) == nullptr) {
      missing.push_back(r.function);
    }
  }
  return missing;
}

int Plug(const Device& device) {
  Locked locked;
  const int slot = static_cast<int>(S().slots.size());
  char path[160];
  std::snprintf(path, sizeof path,
                "\\\\?\\hid#vid_%04x&pid_%04x#sim&%d#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                device.vendorId, device.productId, slot);
  S().slots.push_back(Slot{device, path, true, 0});
  return slot;
}

void Unplug(int slot) {
  Locked locked;
  S().slots.at(slot).present = false;
}

void Replug(int slot) {
  Locked locked;
  Slot& s = S().slots.at(slot);
  s.present = true;
  ++s.instance;
}

void FailNextWrites(int count, DWORD error) {
  Locked locked;
  S().failWrites = count;
  S().failError = error;
}

void StallNextWrites(int count, DWORD ms) {
  Locked locked;
  S().stallWrites = count;
  S().stallMs = ms;
}

void HoldNextEnumeration(DWORD ms) {
  Locked locked;
  S().holdEnumeration = true;
  S().holdMs = ms;
}

bool WaitForHeldEnumeration(DWORD timeoutMs) {
  return WaitForSingleObject(S().enumerationHeld, timeoutMs) == WAIT_OBJECT_0;
}

bool WaitForStalledWrite(DWORD timeoutMs) {
  return WaitForSingleObject(S().writeStalled, timeoutMs) == WAIT_OBJECT_0;
}

bool WaitForPrompt(DWORD timeoutMs) {
  return WaitForSingleObject(S().promptShown, timeoutMs) == WAIT_OBJECT_0;
}

void AnswerPrompts(const std::vector<int>& answers) {
  Locked locked;
  S().answers.assign(answers.begin(), answers.end());
}

void SetPromptDelay(DWORD ms) {
  Locked locked;
  S().promptDelayMs = ms;
}

std::vector<Prompt> Prompts() {
  Locked locked;
  return S().prompts;
}

PROCESS_POWER_THROTTLING_STATE PowerThrottling() {
  Locked locked;
  return S().throttling;
}

std::vector<PROCESS_POWER_THROTTLING_STATE> PowerThrottlingCalls() {
  Locked locked;
  return S().throttlingCalls;
}

std::vector<Event> Events() {
  Locked locked;
  return S().log;
}

std::vector<Event> Reports() {
  Locked locked;
  std::vector<Event> reports;
  for (const Event& e : S().log) {
    if (e.kind == EventKind::Write) reports.push_back(e);
  }
  return reports;
}

double LastWriteMs() {
  Locked locked;
  return S().lastWriteMs;
}

size_t ReportCount() {
  Locked locked;
  return S().reportCount;
}

bool WaitForReports(size_t count, DWORD timeoutMs) {
  const double deadline = NowMs() + timeoutMs;
  while (ReportCount() < count) {
    if (NowMs() > deadline) return false;
    Sleep(1);
  }
  return true;
}

int Discoveries() {
  Locked locked;
  return S().discoveries;
}

int OpenDeviceHandles() {
  Locked locked;
  return static_cast<int>(S().handles.size());
}

int OpenInfoSets() {
  Locked locked;
  return static_cast<int>(S().sets.size());
}

int LivePreparsedData() {
  Locked locked;
  return static_cast<int>(S().preparsed.size());
}

int OpenEvents() {
  Locked locked;
  return static_cast<int>(S().events.size());
}

int EventsCreated() {
  Locked locked;
  return S().eventsCreated;
}

std::vector<std::string> Faults() {
  Locked locked;
  return S().faults;
}

}  // namespace box
