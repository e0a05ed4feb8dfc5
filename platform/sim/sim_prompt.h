// Control side of the simulated message boxes: scripted answers, a record of
// every box shown, and the code pages they are read in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Queues the answer of the next box not yet answered. whileOpen, if given, runs
// on the showing thread while the box is open, before the answer is returned,
// as the host's messages would (it may call the exports or move the clock).
// A box with nothing queued is dismissed: kIdCancel, or kIdOk for an OK-only box.
void ScriptPrompt(int answer, std::function<void()> whileOpen = nullptr);
size_t ScriptedPromptsLeft();

struct Prompt {
  std::string text;  // MessageBoxA: the bytes passed, as they are
  std::string caption;
  uint32_t style;
  int answer;
  bool wide = false;  // MessageBoxW: text and caption are these
  std::u16string wideText;
  std::u16string wideCaption;
};
// Every box shown since the last reset, in the order shown.
std::vector<Prompt> PromptsShown();

// The system's ANSI code page; 932 (Japanese) after a reset. The simulated
// system converts from code page 932 alone, as iconv's CP932 does.
void SetAnsiCodePage(uint32_t codePage);
// The system lacks code page 932, as Windows XP without its East Asian files.
void RemoveCodePage932();

}  // namespace sim
