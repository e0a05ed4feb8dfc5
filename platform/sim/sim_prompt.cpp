// Simulated message boxes and code pages.
#include "platform/sim/sim_prompt.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
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
uint32_t ansiCodePage = plat::kCodePageShiftJis;
bool hasCodePage932 = true;

// Records the box and answers it. Unscripted, it is dismissed: Cancel where
// there is one, else OK.
int Show(sim::Prompt prompt) {
  constexpr uint32_t kButtonsMask = 0x0F;
  Script script{(prompt.style & kButtonsMask) == plat::kMbOk ? plat::kIdOk : plat::kIdCancel,
                nullptr};
  {
    std::lock_guard<std::mutex> lock(promptMutex);
    if (!scripts.empty()) {
      script = std::move(scripts.front());
      scripts.pop_front();
    }
    prompt.answer = script.answer;
    shown.push_back(std::move(prompt));
  }
  // Not under the mutex: the action may show further boxes.
  if (script.whileOpen) script.whileOpen();
  return script.answer;
}

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

void SetAnsiCodePage(uint32_t codePage) {
  std::lock_guard<std::mutex> lock(promptMutex);
  ansiCodePage = codePage;
}

void RemoveCodePage932() {
  std::lock_guard<std::mutex> lock(promptMutex);
  hasCodePage932 = false;
}

namespace detail {
void ResetPrompts() {
  std::lock_guard<std::mutex> lock(promptMutex);
  scripts.clear();
  shown.clear();
  ansiCodePage = plat::kCodePageShiftJis;
  hasCodePage932 = true;
}
}  // namespace detail

}  // namespace sim

namespace plat {

// MessageBoxA and MessageBoxW take null for an empty text or the default caption.
int ShowMessageBox(const char* text, const char* caption, uint32_t style) {
  return Show(sim::Prompt{text != nullptr ? text : "", caption != nullptr ? caption : "", style, 0,
                          false, u"", u""});
}

int ShowWideMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
  return Show(sim::Prompt{"", "", style, 0, true, text != nullptr ? text : u"",
                          caption != nullptr ? caption : u""});
}

uint32_t AnsiCodePage() {
  std::lock_guard<std::mutex> lock(promptMutex);
  return ansiCodePage;
}

// iconv's CP932 is Microsoft's table, as MultiByteToWideChar's. The sim runs
// on little-endian hosts, so UTF-16LE is char16_t as it lies in memory.
bool ToUtf16(uint32_t codePage, const char* text, char16_t* out, uint32_t outUnits) {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  {
    std::lock_guard<std::mutex> lock(promptMutex);
    if (codePage == kCodePageShiftJis && hasCodePage932) cd = iconv_open("UTF-16LE", "CP932");
  }
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  // The NUL goes with the text, as with a length of -1.
  char* in = const_cast<char*>(text);
  size_t inLeft = std::strlen(text) + 1;
  char* outBytes = reinterpret_cast<char*>(out);
  size_t outLeft = size_t{outUnits} * 2;
  const bool converted = iconv(cd, &in, &inLeft, &outBytes, &outLeft) != static_cast<size_t>(-1);
  const int error = errno;
  iconv_close(cd);
  if (!converted) SetLastError(error == E2BIG ? kErrorInsufficientBuffer : kErrorInvalidParameter);
  return converted;
}

}  // namespace plat
