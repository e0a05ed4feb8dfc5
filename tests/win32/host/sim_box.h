// The simulated TARVOKEY box (platform/sim/box_model.h) inside the test host.
//
// Install() rewrites the plug-in's import table so that its calls into hid.dll
// and setupapi.dll and its CreateFileA/WriteFile/CloseHandle on device paths
// reach this box instead of the system, and its message boxes and power
// throttling calls reach their fakes (fake_prompts.h, fake_power.h).
// Everything else the plug-in uses (multimedia timers, the box's claim, the
// settings file, code page conversion) stays real.
//
// The box model checks the calls against the Win32 contracts the plug-in
// relies on; this side adds the arguments only the Win32 calls have. Every
// breach is collected as a fault, so a scenario fails on a call that real
// Windows would reject even when the plug-in happens to survive it here.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_power.h"
#include "fake_prompts.h"
#include "platform/sim/box_model.h"

namespace box {

using Device = sim::HidDevice;
using Event = sim::BoxEvent;
using EventKind = sim::EventKind;

// Box time in milliseconds (QueryPerformanceCounter) since the process started
// using the box.
double NowMs();

// Patches the plug-in's imports (or a program's own, when the driver's code
// is linked into it). Returns the names of the functions the module does not
// import (those calls could not be redirected).
std::vector<std::string> Install(HMODULE plugin);

// ---- the bus (see sim::BoxModel) ----------------------------------------------
// The boxes of a test program sit on a bus of its own, which their device
// paths name, so that the claims of two programs' boxes never meet. Boxes
// plugged after ShareBus sit on the bus named, as do those of the programs
// this one starts from then on (through the environment variable).
constexpr char kBusVariable[] = "TARVOKEY_SIM_BUS";
void ShareBus(const std::string& bus);
int Plug(const Device& device);
// The device path the bus lists for a slot.
std::string PathOf(int slot);
void Unplug(int slot);
void Replug(int slot);
void FailNextWrites(int count, DWORD error = ERROR_GEN_FAILURE);
void StallNextWrites(int count, DWORD ms);
// The next enumeration holds its caller inside SetupDiGetClassDevsA for `ms`,
// then loads and frees a system DLL, which needs the loader lock: a discovery
// that an unload holding that lock keeps waiting.
void HoldNextEnumeration(DWORD ms);
// Until a held enumeration or a stalled write has begun; false on timeout.
bool WaitForHeldEnumeration(DWORD timeoutMs);
bool WaitForStalledWrite(DWORD timeoutMs);

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
int OpenEvents();  // events from CreateEventA not yet closed
int EventsCreated();

// Contract breaches seen so far (empty when all is well).
std::vector<std::string> Faults();

}  // namespace box
