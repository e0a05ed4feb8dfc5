// The settings file, tarvokey.ini.
#pragma once

#include "settings/settings_reader.h"

// Opened by bare name: the host's current directory, which is its own folder.
extern const char kSettingsFileName[];

// What the file says; nothing set when it cannot be opened. *opened, if
// given, says whether it could.
SettingsValues ReadSettingsFile(bool* opened = nullptr);

class FskKeyer;
// Wires the instance as the values say (polarity, FSK pin), under keyerLock.
void ApplySettings(FskKeyer& keyer, const SettingsValues& values);

// Whether an open asks the polarity question, and the pin question: it asks
// what the file does not settle.
bool AsksPolarity(const SettingsValues& values);
bool AsksPin(const SettingsValues& values);
