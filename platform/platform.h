// The seam between the driver's logic and the operating system.
//
// Every operation the driver needs from the platform is named here, and nothing
// else. Two backends implement this header: platform/win32 forwards each call to
// the real Win32 function (linked into tarvokey.fsk), platform/sim simulates them
// with a virtual clock, a scripted HID bus and scripted answers (linked into the
// native tests). The build picks one by source list; no virtual calls, no #ifdefs.
//
// Contracts follow the Win32 functions they stand for, with two simplifications:
// handles are plain pointers where "none" is nullptr (a failed CreateFileA or
// SetupDiGetClassDevsA gives nullptr, never INVALID_HANDLE_VALUE), and records are
// our own structs laid out like the Win32 ones. The seam's functions carry names
// of their own, never a Win32 name that the SDK turns into an A/W macro.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace plat {

using Handle = void*;

// ---- errors -------------------------------------------------------------
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorInvalidUserBuffer = 1784;

uint32_t GetLastError();
void SetLastError(uint32_t code);
// FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FROM_SYSTEM | IGNORE_INSERTS,
// user's default language). Returns nullptr when the system has no text.
char* FormatSystemMessage(uint32_t code);
void FreeSystemMessage(char* text);  // LocalFree

// ---- diagnostics --------------------------------------------------------
// Whether anyone listens to trace lines. The shipped module has no listener, so
// the driver can skip formatting lines that would be thrown away.
bool TraceEnabled();
void TraceLine(const char* line);
// Who listens: a program built on the driver (the check program) may set a
// sink; the shipped module never does. nullptr for none.
using TraceSink = void (*)(const char* line);
void SetTraceSink(TraceSink sink);

// ---- lock ---------------------------------------------------------------
// A recursive lock (CRITICAL_SECTION on Win32). Constructible at static
// initialisation, and usable throughout the module's unload: the module's
// statics are destroyed after its unload notification, and even then a lock
// is given back only where nothing of the module can run any more (Win32: the
// unload has given back the tick's trampoline). Elsewhere it is never destroyed.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire();
  bool TryAcquire();
  void Release();

 private:
  alignas(8) unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~LockGuard() { lock_.Release(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

// ---- multimedia timer ---------------------------------------------------
// Callbacks of all timers run on one timer thread, never two at once, and
// without any lock of the timer facility held (so they may arm and kill timers).
using TimerProc = void (*)(uint32_t timerId, void* user);
// timeBeginPeriod; false when the system refuses the resolution.
bool TimeBeginPeriod(uint32_t ms);
void TimeEndPeriod(uint32_t ms);
// timeSetEvent(delay, resolution, proc, user, TIME_ONESHOT); 0 on failure.
uint32_t TimeSetOneShot(uint32_t delayMs, uint32_t resolutionMs, TimerProc proc, void* user);
bool TimeKillEvent(uint32_t timerId);
// Once no timer of the module's is armed (each killed, or fired): waits up to
// waitMs for the timer thread to show that it has returned from every
// callback it began, one that fired just before its timer was killed and has
// not reached the module yet among them (win32: a one-shot that winmm's
// thread itself sets an event for). False if that was not shown. Until it is,
// and after any arm since, the tick's trampoline keeps its page at unload.
bool SeeTimerCallbacksOut(uint32_t waitMs);
void SleepMs(uint32_t ms);
uint32_t MonotonicMs();  // for bounded waits only, never for keying

// ---- the tick's trampoline ---------------------------------------------
// Timer callbacks enter the module only through a trampoline that is not part
// of the module (win32: a page of our own that outlives it), and every device
// call a tick makes goes out to the system and comes back through it. So an
// unload can tell a tick running the module's code from one waiting inside
// the system, and can send a waiting tick back to winmm by a way that no
// longer passes through the module, which may be unmapped by the time the
// call returns.

// Made once at load; false if it could not be made (callbacks then enter the
// module directly, and WhereIsTick says Unknown).
bool OpenTrampoline();
// Where the timer thread is. InReportWrite: inside the synchronous write of an
// output report; InSystemCall: inside any other device call of a tick.
enum class TickPlace { Outside, InModule, InSystemCall, InReportWrite, Unknown };
TickPlace WhereIsTick();

// What a tick abandoned inside a system call does when that call returns, in
// place of the rest of its work: write the release report, close the handles,
// close the interface set and free the memory, each when given, in that order,
// then return to the timer's caller. The result of the call it was waiting in
// (a handle or a set) is closed too.
struct AbandonedTickTeardown {
  Handle reportDevice = nullptr;
  const void* report = nullptr;  // from AllocateZeroed; list it in `memory` too
  uint32_t reportLength = 0;
  Handle handles[5] = {};
  Handle interfaceSet = nullptr;
  void* memory[5] = {};
};
// What the tick's teardown is to be, read from the instance while the tick is
// parked inside its call: nothing the tick does can change it meanwhile, and
// nothing changes after (the tick never runs the module's code again). Runs on
// the thread that abandons; must not wait for the tick.
using TeardownSnapshot = AbandonedTickTeardown (*)(void* context);
// Abandons the tick if it is waiting inside a system call: parks it there
// (should the call return meanwhile, it waits in the call thunk), takes the
// snapshot, and lets it return to winmm with that teardown. False if it is
// not waiting in a call (it has come back, or never went); then nothing is
// done and the snapshot is not taken.
bool AbandonTick(TeardownSnapshot snapshot, void* context);

// At unload, after the module's own teardown: no callback enters the module
// any more. Waits up to waitMs for a callback inside the module's code to
// leave it; false if one is still there. The trampoline's page is given back
// only if no thread can be in it or come to it: no tick abandoned, the module
// not kept, and no timer armed since SeeTimerCallbacksOut last succeeded.
bool CloseTrampoline(uint32_t waitMs);

// Keeps the module's code mapped after the host unloads it, for a thread that
// is still inside it. Loaders that have begun the unload may refuse (inferred:
// see win32_trampoline.cpp); false then.
bool KeepModuleMapped();

// ---- memory ---------------------------------------------------------------
// Zeroed memory that an abandoned tick's teardown can free without the
// module's code. nullptr when there is none.
void* AllocateZeroed(size_t size);
void Free(void* memory);

// ---- HID class and device setup -----------------------------------------
struct Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

// SP_DEVICE_INTERFACE_DATA; cbSize must be 28 as on 32-bit Windows.
struct DeviceInterfaceData {
  uint32_t cbSize;
  Guid InterfaceClassGuid;
  uint32_t Flags;
  uint32_t Reserved;
};
constexpr uint32_t kDeviceInterfaceDataSize = 28;

// SP_DEVICE_INTERFACE_DETAIL_DATA_A; cbSize must be 5 (the fixed part on 32-bit
// Windows), whatever size the record was allocated at.
struct DeviceInterfaceDetail {
  uint32_t cbSize;
  char DevicePath[1];
};
constexpr uint32_t kDeviceInterfaceDetailSize = 5;

constexpr uint32_t kDigcfPresent = 0x02;
constexpr uint32_t kDigcfDeviceInterface = 0x10;

// HIDD_ATTRIBUTES; Size must be 12.
struct HidAttributes {
  uint32_t Size;
  uint16_t VendorID;
  uint16_t ProductID;
  uint16_t VersionNumber;
};
constexpr uint32_t kHidAttributesSize = 12;

// HIDP_CAPS.
struct HidCaps {
  uint16_t Usage;
  uint16_t UsagePage;
  uint16_t InputReportByteLength;
  uint16_t OutputReportByteLength;
  uint16_t FeatureReportByteLength;
  uint16_t Reserved[17];
  uint16_t NumberLinkCollectionNodes;
  uint16_t NumberInputButtonCaps;
  uint16_t NumberInputValueCaps;
  uint16_t NumberInputDataIndices;
  uint16_t NumberOutputButtonCaps;
  uint16_t NumberOutputValueCaps;
  uint16_t NumberOutputDataIndices;
  uint16_t NumberFeatureButtonCaps;
  uint16_t NumberFeatureValueCaps;
  uint16_t NumberFeatureDataIndices;
};

// OVERLAPPED, as the read side's record.
struct Overlapped {
  uintptr_t Internal;
  uintptr_t InternalHigh;
  uint32_t Offset;
  uint32_t OffsetHigh;
  Handle hEvent;
};

using PreparsedData = void*;

void HidGetHidGuid(Guid* guid);
// The set of present interfaces of a class: SetupDiGetClassDevsA(guid, no
// enumerator, no window, flags). Returns nullptr on failure.
Handle OpenInterfaceSet(const Guid* guid, uint32_t flags);
// SetupDiEnumDeviceInterfaces(set, no device, guid, index, data): false at the
// end of the list.
bool NextInterface(Handle set, const Guid* guid, uint32_t index, DeviceInterfaceData* data);
// SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, requiredSize,
// no device record); requiredSize may be nullptr. A required size above
// kMaxInterfaceDetailSize is not believed: it is far beyond any path the system
// can open (32,767 characters,
// https://learn.microsoft.com/en-us/windows/win32/fileio/maximum-file-path-limitation).
constexpr uint32_t kMaxInterfaceDetailSize = 64 * 1024;
bool GetInterfaceDetail(Handle set, DeviceInterfaceData* data, DeviceInterfaceDetail* detail,
                        uint32_t detailSize, uint32_t* requiredSize);
// SetupDiDestroyDeviceInfoList.
bool CloseInterfaceSet(Handle set);

// CreateFileA(path, GENERIC_READ|GENERIC_WRITE, FILE_SHARE_READ|FILE_SHARE_WRITE,
// nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr).
// Returns nullptr on failure.
Handle CreateDeviceFile(const char* path, bool overlapped);
bool CloseHandle(Handle handle);
// CreateEventA(nullptr, manualReset, initialState, name).
Handle CreateEventObject(bool manualReset, bool initialState, const char* name);
// Synchronous WriteFile, no overlapped record.
bool WriteFile(Handle handle, const void* data, uint32_t length, uint32_t* written);

bool HidGetAttributes(Handle device, HidAttributes* attributes);
bool HidGetPreparsedData(Handle device, PreparsedData* data);
bool HidPGetCaps(PreparsedData data, HidCaps* caps);  // true for HIDP_STATUS_SUCCESS
bool HidFreePreparsedData(PreparsedData data);
bool HidGetProductString(Handle device, void* buffer, uint32_t length);
bool HidGetManufacturerString(Handle device, void* buffer, uint32_t length);

// ---- the claim on a box ----------------------------------------------------
// One program at a time keys a box. Its claim is a named kernel object in the
// global namespace (one for the whole PC, across sessions, users and
// elevation) that exists exactly while a handle to it is open: it belongs to
// the process, not to the thread that made it, and Windows closes the handle
// when the process ends, however it ends. Given back with CloseHandle.
//
// CreateMutexA(nullptr, FALSE, name): only the object's existence counts,
// never its ownership.
enum class ClaimOutcome : uint8_t {
  // This call made the object: *claim is the handle.
  Taken,
  // Another program holds the name. *error says how it showed:
  // kErrorAlreadyExists, a program of this user; kErrorAccessDenied, an
  // object there that is not ours to open (a program run as administrator,
  // or another user's); kErrorInvalidHandle, an object of another kind under
  // the name. Any other failure to make the object counts as held too, so
  // that nothing is written to a box that may be another's.
  Held,
  // Nobody holds the name, but this program may not make it (a sandboxed or
  // low-integrity host): *error is kErrorAccessDenied.
  Unavailable,
};
ClaimOutcome TakeClaim(const char* name, Handle* claim, uint32_t* error);
// Whether another program holds the claim of that name (the check program
// asks, taking nothing).
bool ClaimHeld(const char* name);

// ---- user interface -----------------------------------------------------
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbYesNoCancel = 0x3;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconWarning = 0x30;
constexpr uint32_t kMbDefButton3 = 0x200;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// MessageBoxA with no owner window. Text and caption are passed as they are.
int ShowMessageBox(const char* text, const char* caption, uint32_t style);
// MessageBoxW with no owner window.
int ShowWideMessageBox(const char16_t* text, const char16_t* caption, uint32_t style);

// ---- code pages ---------------------------------------------------------
constexpr uint32_t kCodePageShiftJis = 932;
// GetACP: the code page in which the ANSI functions (MessageBoxA) read text.
uint32_t AnsiCodePage();
// MultiByteToWideChar(codePage, 0, text, -1, out, outUnits): the NUL-terminated
// text as UTF-16, its NUL included. False, with the last error set, when the
// system lacks the code page or out is too small.
bool ToUtf16(uint32_t codePage, const char* text, char16_t* out, uint32_t outUnits);

// ---- the host program's folder ----------------------------------------------
// The file `name` in the folder of the host process's executable (the folder
// of MMTTY.EXE), opened as fopen would with `mode` ("rb", "wb"). nullptr when
// that folder cannot be had or the file does not open. The path stays UTF-16
// from GetModuleFileNameW to _wfopen: in the ANSI code page a folder name such
// as 表 is lost on a Western system, and in Shift_JIS it ends in the byte of
// '\' (表 is 0x95 0x5C), where a path cut or joined bytewise goes astray.
std::FILE* OpenInProgramFolder(const char* name, const char* mode);
// The full path of `name` in the host program's folder, or else in the
// current folder, as UTF-16 ending in a zero. False when the folder cannot be
// had or the path does not fit in `units`.
bool FullPathOf(const char* name, bool inProgramFolder, char16_t* out, uint32_t units);
// The host program's file name without its folder ("MMTTY.EXE"), as UTF-16
// ending in a zero, cut to fit. False when it cannot be had.
bool HostProgramName(char16_t* out, uint32_t units);
// The host program's folder ("C:\MMTTY"), as UTF-16 ending in a zero, cut to
// fit. False when it cannot be had.
bool HostProgramFolder(char16_t* out, uint32_t units);

// ---- the status section ------------------------------------------------------
// What an open instance shows the check program (status/status_record.h), in
// a section of shared memory named after the host process,
// Local\tarvokey-status-<process id>, with the default security: only the
// same user's programs open it. The view is mapped for writing. A section of
// that name that is still there (a monitor holds a view of the last
// instance's) is taken as it is, and so is one that another program of the
// user made first: of another size, reserved and never committed, read-only.
// `bytes` says how much of the view, from its start, is committed and
// writable, measured before anything is written to it; `foundThere`, that the
// section was there before. False, with nothing held, when it cannot be had.
struct StatusSection {
  Handle mapping = nullptr;
  void* view = nullptr;
  uint32_t bytes = 0;
  bool foundThere = false;
};
bool CreateStatusSection(uint32_t bytes, StatusSection* section);
// Unmaps the view and closes the section, each if held; both none after.
void CloseStatusSection(StatusSection* section);

// ---- time and the process ------------------------------------------------------
// QueryPerformanceCounter and its frequency: one time base, across processes,
// for the plug-in's figures and the check program's.
uint64_t PerformanceCounter();
uint64_t PerformanceFrequency();
// GetSystemTimeAsFileTime: 100 ns since 1601, UTC.
uint64_t SystemTimeUtc();
uint32_t CurrentProcessId();

// ---- power throttling ---------------------------------------------------
// PROCESS_POWER_THROTTLING_STATE.
struct PowerThrottlingState {
  uint32_t Version;
  uint32_t ControlMask;
  uint32_t StateMask;
};
constexpr uint32_t kPowerThrottlingCurrentVersion = 1;
constexpr uint32_t kPowerThrottlingExecutionSpeed = 0x1;
constexpr uint32_t kPowerThrottlingIgnoreTimerResolution = 0x4;
// SetProcessInformation and GetProcessInformation(GetCurrentProcess(),
// ProcessPowerThrottling, state, sizeof *state); Get wants Version set. Both are
// looked up in kernel32 at each call, since they came with Windows 8 and the
// module loads on XP: where they are missing, false with kErrorProcNotFound.
bool SetPowerThrottling(const PowerThrottlingState& state);
bool GetPowerThrottling(PowerThrottlingState* state);

// ---- system version -----------------------------------------------------
struct OsVersion {
  uint32_t majorVersion;
  uint32_t minorVersion;
  uint32_t buildNumber;
  uint32_t platformId;
};
constexpr uint32_t kPlatformWin32Windows = 1;
constexpr uint32_t kPlatformWin32Nt = 2;
constexpr uint32_t kOsVersionInfoExSize = 156;
constexpr uint32_t kOsVersionInfoSize = 148;
// GetVersionExA with a record of recordSize bytes (156: OSVERSIONINFOEXA, 148:
// OSVERSIONINFOA), cleared beforehand. False if the system refuses it.
bool QueryOsVersion(uint32_t recordSize, OsVersion* version);

}  // namespace plat
