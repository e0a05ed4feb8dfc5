// The Win32 face of the box model: the plug-in's imports patched to calls
// that check the arguments only Win32 has and pass the rest to the model.
#include "sim_box.h"

#include <setupapi.h>

// The HID headers lack C linkage guards in this SDK.
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cstring>

#include "fakes.h"
#include "iat_patch.h"

// The model's records are handed to the plug-in as the system's own.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == plat::kDeviceInterfaceDataSize, "layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == plat::kDeviceInterfaceDetailSize,
              "layout");
static_assert(sizeof(HIDD_ATTRIBUTES) == plat::kHidAttributesSize, "layout");
static_assert(sizeof(HIDP_CAPS) == sizeof(plat::HidCaps), "layout");

namespace box {
namespace {

void Lock();
void Unlock();

// Everything lives in one object that is never destroyed: the plug-in may
// call in from its unload notification, late in the process.
struct State {
  CRITICAL_SECTION lock;
  LARGE_INTEGER epoch;
  LARGE_INTEGER frequency;
  // Fake handles are addresses in a reserved, inaccessible range, so they can
  // never be mistaken for a real handle or dereferenced by accident.
  uintptr_t rangeStart =
      reinterpret_cast<uintptr_t>(VirtualAlloc(nullptr, kRangeSize, MEM_RESERVE, PAGE_NOACCESS));
  static constexpr SIZE_T kRangeSize = 1 << 20;
  sim::BoxModel model{{[] { return NowMs(); }, [] { return uint32_t{GetCurrentThreadId()}; },
                       [](uint32_t code) { SetLastError(code); }, &Lock, &Unlock},
                      rangeStart + 0x100};

  // The system's own functions, read before anything patched an import
  // table: the box may be installed in the very program it lives in, whose
  // imports then lead back here.
  decltype(&::CreateFileA) realCreateFileA = &::CreateFileA;
  decltype(&::WriteFile) realWriteFile = &::WriteFile;
  decltype(&::CloseHandle) realCloseHandle = &::CloseHandle;
  decltype(&::CreateEventA) realCreateEventA = &::CreateEventA;

  LONG holdMs = 0;  // the next enumeration's, 0 for none
  // Signalled when a held enumeration or a stalled write begins.
  HANDLE enumerationHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE writeStalled = CreateEventA(nullptr, TRUE, FALSE, nullptr);

  State() {
    InitializeCriticalSection(&lock);
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&epoch);
    // The boxes' claims are real named objects, one for the whole Wine prefix:
    // each test program's boxes sit on a bus of its own, so that programs
    // running side by side never wait for each other's box, unless they are
    // given one bus to share.
    char bus[64] = "";
    const DWORD length = GetEnvironmentVariableA(kBusVariable, bus, sizeof bus);
    if (length == 0 || length >= sizeof bus) {
      std::snprintf(bus, sizeof bus, "p%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    }
    model.SetBus(bus);
  }
};

State& S() {
  static State* state = new State;
  return *state;
}
// Built before main, while the process has one thread.
State& stateBuiltBeforeMain = S();

void Lock() { EnterCriticalSection(&S().lock); }
void Unlock() { LeaveCriticalSection(&S().lock); }
sim::BoxModel::Locked M() { return S().model.Lock(); }

// One call on the device link, from its start to its return.
struct LinkCall {
  explicit LinkCall(const char* name) { M()->EnterCall(name); }
  ~LinkCall() { M()->LeaveCall(); }
};

bool Signalled(HANDLE event, DWORD timeoutMs) {
  return WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
}

bool IsFake(const void* handle) {
  const auto value = reinterpret_cast<uintptr_t>(handle);
  return value >= S().rangeStart && value < S().rangeStart + State::kRangeSize;
}

// ---- kernel32 ---------------------------------------------------------------

HANDLE WINAPI FakeCreateFileA(LPCSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
  if (M()->SlotOfPath(path) < 0) {
    return S().realCreateFileA(path, access, share, security, disposition, flags, templateFile);
  }
  LinkCall call("CreateFileA");
  if (access != (GENERIC_READ | GENERIC_WRITE) || share != (FILE_SHARE_READ | FILE_SHARE_WRITE) ||
      security != nullptr || disposition != OPEN_EXISTING ||
      (flags != 0 && flags != FILE_FLAG_OVERLAPPED) || templateFile != nullptr) {
    M()->Breach("CreateFileA of a device with access, share, disposition or flags not as wanted");
  }
  const HANDLE handle = M()->CreateDeviceFile(path, (flags & FILE_FLAG_OVERLAPPED) != 0);
  return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                          LPOVERLAPPED overlapped) {
  if (!IsFake(file)) return S().realWriteFile(file, data, length, written, overlapped);
  LinkCall call("WriteFile");
  if (overlapped != nullptr) M()->Breach("WriteFile with an overlapped record");
  if (written == nullptr) M()->Breach("WriteFile without a count of bytes written");
  const sim::BoxModel::Write write = M()->BeginWrite(file, data, length);
  if (write.stallMs != 0) {
    SetEvent(S().writeStalled);
    Sleep(write.stallMs);
  }
  uint32_t count = 0;
  const bool ok = M()->EndWrite(write, &count);
  if (written != nullptr) *written = count;
  return ok;
}

BOOL WINAPI FakeCloseHandle(HANDLE object) {
  if (!IsFake(object)) {
    if (object == nullptr || object == INVALID_HANDLE_VALUE) M()->Breach("CloseHandle of none");
    return S().realCloseHandle(object);
  }
  LinkCall call("CloseHandle");
  return M()->CloseHandle(object);
}

// The plug-in asks for its read side's event with an empty name, and gets
// one of the box's; a program's own events (no name) are real.
HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                               LPCSTR name) {
  if (name == nullptr) return S().realCreateEventA(security, manualReset, initialState, name);
  if (security != nullptr) M()->Breach("CreateEventA with security attributes");
  return M()->CreateEventObject(manualReset, initialState, name);
}

// ---- setupapi -----------------------------------------------------------------

// Holds the caller, then needs the loader lock, as the real enumeration may.
void HoldEnumerationIfAsked() {
  const LONG hold = InterlockedExchange(&S().holdMs, 0);
  if (hold == 0) return;
  SetEvent(S().enumerationHeld);
  Sleep(hold);
  if (HMODULE dll = LoadLibraryA("msimg32.dll")) FreeLibrary(dll);
}

HDEVINFO WINAPI FakeSetupDiGetClassDevsA(const GUID* guid, PCSTR enumerator, HWND parent,
                                         DWORD flags) {
  LinkCall call("SetupDiGetClassDevsA");
  HoldEnumerationIfAsked();
  if (enumerator != nullptr || parent != nullptr) {
    M()->Breach("SetupDiGetClassDevsA with an enumerator or a parent window");
  }
  return M()->OpenInterfaceSet(reinterpret_cast<const plat::Guid*>(guid), flags);
}

BOOL WINAPI FakeSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                            const GUID* guid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
  LinkCall call("SetupDiEnumDeviceInterfaces");
  if (deviceInfo != nullptr) M()->Breach("SetupDiEnumDeviceInterfaces not for the whole set");
  return M()->NextInterface(set, reinterpret_cast<const plat::Guid*>(guid), index,
                            reinterpret_cast<plat::DeviceInterfaceData*>(data));
}

BOOL WINAPI FakeSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                 DWORD detailSize, PDWORD requiredSize,
                                                 PSP_DEVINFO_DATA) {
  LinkCall call("SetupDiGetDeviceInterfaceDetailA");
  uint32_t required = requiredSize != nullptr ? *requiredSize : 0;
  const bool ok =
      M()->GetInterfaceDetail(set, reinterpret_cast<plat::DeviceInterfaceData*>(data),
                              reinterpret_cast<plat::DeviceInterfaceDetail*>(detail), detailSize,
                              requiredSize != nullptr ? &required : nullptr);
  if (requiredSize != nullptr) *requiredSize = required;
  return ok;
}

BOOL WINAPI FakeSetupDiDestroyDeviceInfoList(HDEVINFO set) {
  LinkCall call("SetupDiDestroyDeviceInfoList");
  return M()->CloseInterfaceSet(set);
}

// ---- hid ----------------------------------------------------------------------

void __stdcall FakeHidD_GetHidGuid(LPGUID guid) {
  LinkCall call("HidD_GetHidGuid");
  *reinterpret_cast<plat::Guid*>(guid) = sim::BoxModel::kHidGuid;
}

BOOLEAN __stdcall FakeHidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
  LinkCall call("HidD_GetAttributes");
  return M()->GetAttributes(device, reinterpret_cast<plat::HidAttributes*>(attributes));
}

BOOLEAN __stdcall FakeHidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) {
  LinkCall call("HidD_GetPreparsedData");
  return M()->GetPreparsedData(device, reinterpret_cast<plat::PreparsedData*>(data));
}

NTSTATUS __stdcall FakeHidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  LinkCall call("HidP_GetCaps");
  const bool ok = M()->GetCaps(data, reinterpret_cast<plat::HidCaps*>(caps));
  return ok ? HIDP_STATUS_SUCCESS : HIDP_STATUS_INVALID_PREPARSED_DATA;
}

BOOLEAN __stdcall FakeHidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  LinkCall call("HidD_FreePreparsedData");
  return M()->FreePreparsedData(data);
}

BOOLEAN __stdcall FakeHidD_GetProductString(HANDLE device, PVOID buffer, ULONG length) {
  LinkCall call("HidD_GetProductString");
  return M()->GetString(device, buffer, length, true);
}

BOOLEAN __stdcall FakeHidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG length) {
  LinkCall call("HidD_GetManufacturerString");
  return M()->GetString(device, buffer, length, false);
}

#define REDIRECT(dll, function) \
  { dll, #function, reinterpret_cast<void*>(&Fake##function) }
const Redirect kBoxRedirects[] = {
    REDIRECT("kernel32.dll", CreateFileA),
    REDIRECT("kernel32.dll", WriteFile),
    REDIRECT("kernel32.dll", CloseHandle),
    REDIRECT("kernel32.dll", CreateEventA),
    REDIRECT("setupapi.dll", SetupDiGetClassDevsA),
    REDIRECT("setupapi.dll", SetupDiEnumDeviceInterfaces),
    REDIRECT("setupapi.dll", SetupDiGetDeviceInterfaceDetailA),
    REDIRECT("setupapi.dll", SetupDiDestroyDeviceInfoList),
    REDIRECT("hid.dll", HidD_GetHidGuid),
    REDIRECT("hid.dll", HidD_GetAttributes),
    REDIRECT("hid.dll", HidD_GetPreparsedData),
    REDIRECT("hid.dll", HidP_GetCaps),
    REDIRECT("hid.dll", HidD_FreePreparsedData),
    REDIRECT("hid.dll", HidD_GetProductString),
    REDIRECT("hid.dll", HidD_GetManufacturerString),
};
#undef REDIRECT

}  // namespace

double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - S().epoch.QuadPart) * 1000.0 /
         static_cast<double>(S().frequency.QuadPart);
}

std::vector<std::string> Install(HMODULE plugin) {
  std::vector<std::string> missing;
  for (const std::vector<Redirect>& fakes :
       {std::vector<Redirect>(std::begin(kBoxRedirects), std::end(kBoxRedirects)),
        detail::PromptRedirects(), detail::PowerRedirects()}) {
    for (const Redirect& r : fakes) {
      if (iat::Patch(plugin, r.dll, r.function, r.replacement) == nullptr) {
        missing.push_back(r.function);
      }
    }
  }
  return missing;
}

namespace detail {
void Breach(const std::string& what) { M()->Breach(what); }
}  // namespace detail

int Plug(const Device& device) { return M()->Plug(device); }
std::string PathOf(int slot) { return M()->PathOf(slot); }
void ShareBus(const std::string& bus) {
  M()->SetBus(bus);
  SetEnvironmentVariableA(kBusVariable, bus.c_str());
}
void Unplug(int slot) { M()->Unplug(slot); }
void Replug(int slot) { M()->Replug(slot); }
void FailNextWrites(int count, DWORD error) { M()->FailNextWrites(count, error); }
void StallNextWrites(int count, DWORD ms) { M()->StallNextWrites(count, ms); }

void HoldNextEnumeration(DWORD ms) { InterlockedExchange(&S().holdMs, static_cast<LONG>(ms)); }

bool WaitForHeldEnumeration(DWORD timeoutMs) { return Signalled(S().enumerationHeld, timeoutMs); }
bool WaitForStalledWrite(DWORD timeoutMs) { return Signalled(S().writeStalled, timeoutMs); }

std::vector<Event> Events() { return M()->Events(); }
std::vector<Event> Reports() { return M()->Writes(); }

size_t ReportCount() { return M()->Counts().writes; }
double LastWriteMs() { return M()->Counts().lastWriteMs; }

bool WaitForReports(size_t count, DWORD timeoutMs) {
  const double deadline = NowMs() + timeoutMs;
  while (ReportCount() < count) {
    if (NowMs() > deadline) return false;
    Sleep(1);
  }
  return true;
}

int Discoveries() { return M()->Counts().discoveries; }
int OpenDeviceHandles() { return M()->OpenHandles().device + M()->OpenHandles().read; }
int OpenInfoSets() { return M()->OpenHandles().infoSets; }
int LivePreparsedData() { return M()->OpenHandles().preparsedData; }
int OpenEvents() { return M()->OpenHandles().events; }
int EventsCreated() { return M()->Counts().eventsCreated; }
std::vector<std::string> Faults() { return M()->Breaches(); }

}  // namespace box
