// Simulated message boxes.
#include "platform/sim/sim_prompt.h"

#include <deque>
#include <mutex>
#include <utility>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

struct Script {
  int answer;
  std::function<void()> whileOpen;
};

std::mutex promptMutex;
std::deque<Script> scripts;
std::vector<sim::Prompt> shown;

}  // namespace

namespace sim {

void ScriptPrompt(int answer, std::function<void()> whileOpen) {
  std::lock_guard<std::mutex> lock(promptMutex);
  scripts.push_back(Script{answer, std::move(whileOpen)});
}

size_t ScriptedPromptsLeft() {
  std::lock_guard<std::mutex> lock(promptMutex);
  return scripts.size();
}

std::vector<Prompt> PromptsShown() {
  std::lock_guard<std::mutex> lock(promptMutex);
  return shown;
}

namespace detail {
void ResetPrompts() {
  std::lock_guard<std::mutex> lock(promptMutex);
  scripts.clear();
  shown.clear();
}
}  // namespace detail

}  // namespace sim

namespace plat {

int ShowMessageBox(const char* text, const char* caption, uint32_t style) {
  // Unscripted, the box is dismissed: Cancel where there is one, else OK.
  constexpr uint32_t kButtonsMask = 0x0F;
  Script script{(style & kButtonsMask) == kMbOk ? kIdOk : kIdCancel, nullptr};
  {
    std::lock_guard<std::mutex> lock(promptMutex);
    if (!scripts.empty()) {
      script = std::move(scripts.front());
      scripts.pop_front();
    }
    // MessageBoxA takes null for an empty text or the default caption.
    shown.push_back(sim::Prompt{text != nullptr ? text : "", caption != nullptr ? caption : "",
                                style, script.answer});
  }
  // Not under the mutex: the action may show further boxes.
  if (script.whileOpen) script.whileOpen();
  return script.answer;
}

}  // namespace plat
