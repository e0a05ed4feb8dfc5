// Kept readable here; the build compiles this file with -fexec-charset=CP932
// (cmake/Charset.cmake), so the strings below are Shift_JIS in the binary.
#include "shell/module_text.h"

static_assert(sizeof("表") == 3, "load-time texts must be compiled to code page 932");

const char kWindows95Warning[] = "TARVOKEYはWindows95では動作しません。";
const char kWarningCaption[] = "EXTFSK";
