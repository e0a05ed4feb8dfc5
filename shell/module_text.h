// What the user reads at load time, in Shift_JIS (code page 932) as the ANSI
// message box takes it.
#pragma once

extern const char kWindows95Warning[];
extern const char kWarningCaption[];
