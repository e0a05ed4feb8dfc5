// Simulated message boxes and code pages.
#include "platform/sim/sim_prompt.h"

#include <iconv.h>

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

bool ToUtf16(uint32_t codePage, const char* text, char16_t* out, uint32_t outUnits) {
  {
    std::lock_guard<std::mutex> lock(promptMutex);
    if (codePage != kCodePageShiftJis || !hasCodePage932) {
      SetLastError(kErrorInvalidParameter);
      return false;
    }
  }
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  // The NUL goes with the text, as with a length of -1.
  std::string in(text, std::strlen(text) + 1);
  std::string bytes(in.size() * 2, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = bytes.data();
  size_t outLeft = bytes.size();
  const bool converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  const size_t units = (bytes.size() - outLeft) / 2;
  if (!converted || units > outUnits) {
    SetLastError(converted ? kErrorInsufficientBuffer : kErrorInvalidParameter);
    return false;
  }
  for (size_t i = 0; i < units; ++i) {
    out[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                   static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  }
  return true;
}

}  // namespace plat
