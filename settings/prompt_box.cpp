#include "settings/prompt_box.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/trace.h"

namespace {

// Room for the longest prompt and its English lines; a Shift_JIS character
// never takes more UTF-16 units than it has bytes.
constexpr uint32_t kMaxPromptBytes = 2048;

}  // namespace

int ShowJapaneseBox(const char* text, const char* english, const char* caption, uint32_t style) {
  if (plat::AnsiCodePage() == plat::kCodePageShiftJis) {
    return plat::ShowMessageBox(text, caption, style);
  }
  char both[kMaxPromptBytes];
  std::snprintf(both, sizeof both, "%s\n\n%s", text, english);
  char16_t wideText[kMaxPromptBytes];
  char16_t wideCaption[kMaxPromptBytes];
  if (plat::ToUtf16(plat::kCodePageShiftJis, both, wideText, kMaxPromptBytes) &&
      plat::ToUtf16(plat::kCodePageShiftJis, caption, wideCaption, kMaxPromptBytes)) {
    return plat::ShowWideMessageBox(wideText, wideCaption, style);
  }
  // A system without code page 932 (Windows XP without its East Asian files)
  // still reads the English lines in the ANSI box.
  TraceLastError("MultiByteToWideChar: ");
  return plat::ShowMessageBox(both, caption, style);
}
