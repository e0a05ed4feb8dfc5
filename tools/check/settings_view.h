// The settings in force, as the plug-in reads them from tarvokey.ini.
#pragma once

#include "tools/check/console.h"
#include "tools/check/texts.h"

// Which file, what each value means, which lines of it are not taken as
// written and why, and whether the plug-in would ask at the next open. Reads
// the file only.
void PrintSettings(Console& console, const Texts& texts);
