// A simulated TARVOKEY box (and the HID bus it sits on) inside the test host.
//
// Install() rewrites the plug-in's import table so that its calls into hid.dll
// and setupapi.dll, its CreateFileA/WriteFile/CloseHandle on device paths,
// its MessageBoxA and MessageBoxW, and the power throttling functions it looks
// up with GetProcAddress reach this box instead of the system. Everything else
// the plug-in uses (multimedia timers, events, the settings file, code page
// conversion) stays real.
//
// The box checks the calls against the Win32 contracts the plug-in relies on
// (record sizes, flags, handle lifetimes, report lengths) and collects every
// breach as a fault, so a scenario fails on a call that real Windows would
// reject even when the plug-in happens to survive it here.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/box_identity.h"

namespace box {

constexpr uint16_t kVendorId = tarvokey::kVendorId;
constexpr uint16_t kProductId = tarvokey::kProductId;

// A UTF-16 constant as the wide string the HID class hands out on Windows.
template <size_t N>
std::wstring Wide(const char16_t (&text)[N]) {
  return std::wstring(text, text + N - 1);
}

// One HID device as the system lists it.
struct Device {
  uint16_t vendorId = kVendorId;
  uint16_t productId = kProductId;
  // Generation digits at positions 13 and 15: "3" and "1", generation 31.
  std::wstring product = Wide(tarvokey::kSimulatedProduct);
  std::wstring manufacturer = Wide(tarvokey::kSimulatedManufacturer);
  uint16_t outputReportLength = tarvokey::kSimulatedReportLength;
  bool stringsReadable = true;
};

enum class EventKind {
  Enumerate,   // SetupDiGetClassDevsA: a discovery starts
  Open,        // CreateFileA on a device path
  OpenFailed,  // the same, refused (device gone)
  Close,       // CloseHandle of a device handle
  Write,       // WriteFile on a device handle, succeeded or not
};

struct Event {
  EventKind kind;
  double ms;                   // box time when the call returned (QueryPerformanceCounter)
  double startMs;              // box time when the call was made
  DWORD threadId;              // the calling thread
  int slot;                    // device slot, -1 for none
  uintptr_t handle;            // device handle, 0 for none
  bool overlapped;             // Open: opened with FILE_FLAG_OVERLAPPED
  bool ok;                     // Write: the write succeeded
  std::vector<uint8_t> bytes;  // Write: the report as given

  uint8_t line() const { return bytes.size() > 2 ? bytes[2] : 0xFF; }
};

struct Prompt {
  double startMs;
  double endMs;
  DWORD threadId;
  HWND owner;
  std::string text;  // MessageBoxA: bytes as passed (Shift_JIS)
  std::string caption;
  UINT style;
  int answer;
  bool wide;  // MessageBoxW: text and caption are these
  std::wstring wideText;
  std::wstring wideCaption;
};

// Box time in milliseconds since the process started using the box.
double NowMs();

// Patches the plug-in's imports (or a program's own, when the driver's code
// is linked into it). Returns the names of the functions the module does not
// import (those calls could not be redirected).
std::vector<std::string> Install(HMODULE plugin);

// ---- the bus --------------------------------------------------------------
// Adds a device at the end of the enumeration order; returns its slot.
int Plug(const Device& device);
// The device disappears: it is no longer listed, and its open handles fail
// every write with ERROR_DEVICE_NOT_CONNECTED from now on.
void Unplug(int slot);
// The device returns in its old place in the enumeration order, as a new
// device instance (old handles stay dead).
void Replug(int slot);
// The next `count` writes fail with `error` (the link may drop on them).
void FailNextWrites(int count, DWORD error = ERROR_GEN_FAILURE);
// The next `count` writes take `ms` before they return.
void StallNextWrites(int count, DWORD ms);
// The next enumeration holds its caller inside SetupDiGetClassDevsA for `ms`,
// then loads and frees a system DLL, which needs the loader lock: a discovery
// that an unload holding that lock keeps waiting.
void HoldNextEnumeration(DWORD ms);
// Until a held enumeration, a stalled write or a prompt has begun; false on
// timeout.
bool WaitForHeldEnumeration(DWORD timeoutMs);
bool WaitForStalledWrite(DWORD timeoutMs);
bool WaitForPrompt(DWORD timeoutMs);

// ---- prompts --------------------------------------------------------------
// Answers for the next prompts, in order. A prompt with no answer left is a
// fault and is answered IDCANCEL.
void AnswerPrompts(const std::vector<int>& answers);
// How long each prompt stays open before it is answered (a user reading it).
void SetPromptDelay(DWORD ms);
std::vector<Prompt> Prompts();

// ---- the process's power throttling state -----------------------------------
// As the host left it before loading the plug-in: full speed asked for.
constexpr PROCESS_POWER_THROTTLING_STATE kHostPowerThrottling = {
    PROCESS_POWER_THROTTLING_CURRENT_VERSION, PROCESS_POWER_THROTTLING_EXECUTION_SPEED, 0};
PROCESS_POWER_THROTTLING_STATE PowerThrottling();
// Every state SetProcessInformation was given, in order.
std::vector<PROCESS_POWER_THROTTLING_STATE> PowerThrottlingCalls();

// ---- what happened --------------------------------------------------------
std::vector<Event> Events();
// Only the Write events.
std::vector<Event> Reports();
size_t ReportCount();
// Box time of the latest write, successful or not; -1 before the first.
double LastWriteMs();
// Waits until at least `count` reports have been written (successfully or
// not); false on timeout.
bool WaitForReports(size_t count, DWORD timeoutMs);
int Discoveries();  // SetupDiGetClassDevsA calls

// Resources the plug-in holds right now.
int OpenDeviceHandles();
int OpenInfoSets();
int LivePreparsedData();
int OpenEvents();  // events from the plug-in's CreateEventA not yet closed
int EventsCreated();

// Contract breaches seen so far (empty when all is well).
std::vector<std::string> Faults();

}  // namespace box
