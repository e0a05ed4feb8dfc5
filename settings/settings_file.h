// The settings file, tarvokey.ini.
#pragma once

#include <cstdio>

#include "settings/settings_reader.h"

// Opened by bare name: the host's current directory, normally its own folder.
extern const char kSettingsFileName[];

// Where the file was read from, and so where it is written back.
enum class SettingsPlace {
  None,           // no file could be read: the answers go to the current folder
  CurrentFolder,  // tarvokey.ini by bare name
  ProgramFolder,  // the current folder has none; the host program's folder has one
};

// The file at a place (the current folder's for None), opened in this mode.
std::FILE* OpenSettingsFile(SettingsPlace place, const char* mode);

// What the file says; nothing set when no file can be read. The current
// folder's file is read when there is one at all (even if it cannot be read);
// only when there is none is the one in the host program's folder read.
// listener, if given, hears of the tokens not taken (the check program).
SettingsValues ReadSettingsFile(SettingsPlace* place = nullptr, NotTakenListener listener = nullptr,
                                void* context = nullptr);

class FskKeyer;
// Wires the instance as the values say (polarity, FSK pin), under keyerLock.
void ApplySettings(FskKeyer& keyer, const SettingsValues& values);

// Whether an open asks the polarity question, and the pin question: it asks
// what the file does not settle.
bool AsksPolarity(const SettingsValues& values);
bool AsksPin(const SettingsValues& values);
