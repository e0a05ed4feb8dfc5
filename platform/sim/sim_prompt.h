// Control side of the simulated message boxes: scripted answers and a record of
// every box shown.
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
  std::string text;  // the bytes passed, as they are
  std::string caption;
  uint32_t style;
  int answer;
};
// Every box shown since the last reset, in the order shown.
std::vector<Prompt> PromptsShown();

}  // namespace sim
