// End-to-end scenarios of the shipped module: each runs in a process of its
// own (a fresh load of the module), chosen by name on the command line:
//   <program> <path of tarvokey.fsk> <scenario> [data folder]
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "plugin.h"
#include "sim_box.h"
#include "tools/check/timeline.h"

struct Env {
  std::string plugin;  // path of tarvokey.fsk
  std::string data;    // folder of expected bytes made by the build, if any
};

using ScenarioFn = void (*)(const Env&);
struct ScenarioRegistration {
  ScenarioRegistration(const char* name, ScenarioFn run);
};

#define SCENARIO(name)                                                 \
  static void name(const Env& env);                                    \
  static const ScenarioRegistration name##_registration(#name, &name); \
  static void name([[maybe_unused]] const Env& env)

// ---- helpers ----------------------------------------------------------------

// Writes tarvokey.ini into the current folder, byte for byte.
void WriteSettingsFile(const std::string& content);
// Normal polarity, FSK on pin 1: the plug-in has no question to ask.
void WriteDefaultSettings();
std::string ReadFileBytes(const std::string& path);
void RemoveFile(const std::string& path);

// A report as the box receives it: 00 01 `line`, zero-filled to `length`.
std::vector<uint8_t> ReportBytes(uint8_t line, size_t length = 9);
std::string Hex(const std::vector<uint8_t>& bytes);

// Reports from index `from` on.
std::vector<box::Event> ReportsFrom(size_t from);
// Waits for `count` more reports than there are now; returns them.
std::vector<box::Event> NextReports(size_t count, DWORD timeoutMs = 2000);
// Polls extfskIsTxBusy until it says 0; returns the box time it did, or -1.
double WaitUntilNotBusy(Plugin& plugin, DWORD timeoutMs = 2000);

std::vector<uint8_t> Lines(const std::vector<box::Event>& reports);

// The keying the reports carried (see tools/check/timeline.h).
timeline::Keying ReadKeying(const std::vector<box::Event>& reports,
                            const timeline::Wiring& wiring = {});

// The holds the plug-in arms its one-shot timer with, seen on their way to
// timeSetEvent from the moment RecordArmedHolds patches its import: the
// element lengths it asks for, whatever the machine then makes of them. A
// letter each: b a bit (22 ms), s a stop element (33 ms), ? anything else.
void RecordArmedHolds();
std::string ArmedHolds();
// The box time at which the first of them was armed: the clock's start.
double FirstArmedMs();

// Waits until this process has no thread but the caller, and on Windows the
// system's own (those that started in a system DLL: the loader's thread pool
// keeps its workers for 30 s); false if one is still there after boundMs.
bool AwaitOtherThreads(DWORD boundMs);
// Each of them by its id and the module and offset it started at, to tell a
// thread of the plug-in's from one of the system's own.
std::string OtherThreadsText();

// Power throttling states as "version/control mask/state mask", space-separated.
std::string Text(const std::vector<PROCESS_POWER_THROTTLING_STATE>& states);

// Events [from, to) of a list, clipped to its end.
std::vector<box::Event> Slice(const std::vector<box::Event>& events, size_t from,
                              size_t to = SIZE_MAX);
// Events of `kind`, on the box in `slot` or on any.
constexpr int kAnySlot = -2;
size_t Count(const std::vector<box::Event>& events, box::EventKind kind, int slot = kAnySlot);
// Opens the keyer on default wiring with PTT on and keying armed (idle reports
// then carry 0x0C), and lets `settleTicks` reports go by.
void OpenKeyed(Plugin& plugin, size_t settleTicks = 3);
// Hands over one character while the keyer idles on `idleLine` (PTT on,
// keying armed) and returns the eight reports from its start bit on: start,
// five data bits, stop, and the idle element after it. *notBusyMs receives
// the box time at which extfskIsTxBusy turned to 0.
std::vector<box::Event> SendOne(Plugin& plugin, int32_t character, uint8_t idleLine,
                                double* notBusyMs = nullptr);
