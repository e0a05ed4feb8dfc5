#include "fake_prompts.h"

#include <deque>

#include "fakes.h"
#include "locked.h"
#include "sim_box.h"

namespace box {
namespace {

struct State {
  CRITICAL_SECTION lock;
  std::vector<Prompt> prompts;
  std::deque<int> answers;
  DWORD delayMs = 0;
  // Signalled when a prompt begins.
  HANDLE shown = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  State() { InitializeCriticalSection(&lock); }
};

State& S() { return FakeState<State>(); }
State& stateBuiltBeforeMain = S();

int ShowPrompt(Prompt prompt) {
  DWORD delay;
  bool unexpected = false;
  {
    const Locked locked(S().lock);
    if (S().answers.empty()) {
      unexpected = true;
    } else {
      prompt.answer = S().answers.front();
      S().answers.pop_front();
    }
    delay = S().delayMs;
  }
  if (unexpected) detail::Breach("unexpected prompt: " + prompt.caption);
  SetEvent(S().shown);
  if (delay != 0) Sleep(delay);
  const Locked locked(S().lock);
  prompt.endMs = NowMs();
  S().prompts.push_back(prompt);
  return prompt.answer;
}

int WINAPI FakeMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  return ShowPrompt(Prompt{NowMs(), 0, GetCurrentThreadId(), owner, text != nullptr ? text : "",
                           caption != nullptr ? caption : "", style, IDCANCEL, false, L"", L""});
}

int WINAPI FakeMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  return ShowPrompt(Prompt{NowMs(), 0, GetCurrentThreadId(), owner, "", "", style, IDCANCEL, true,
                           text != nullptr ? text : L"", caption != nullptr ? caption : L""});
}

}  // namespace

void AnswerPrompts(const std::vector<int>& answers) {
  const Locked locked(S().lock);
  S().answers.assign(answers.begin(), answers.end());
}

void SetPromptDelay(DWORD ms) {
  const Locked locked(S().lock);
  S().delayMs = ms;
}

std::vector<Prompt> Prompts() {
  const Locked locked(S().lock);
  return S().prompts;
}

bool WaitForPrompt(DWORD timeoutMs) {
  return WaitForSingleObject(S().shown, timeoutMs) == WAIT_OBJECT_0;
}

namespace detail {
std::vector<Redirect> PromptRedirects() {
  return {{"user32.dll", "MessageBoxA", reinterpret_cast<void*>(&FakeMessageBoxA)},
          {"user32.dll", "MessageBoxW", reinterpret_cast<void*>(&FakeMessageBoxW)}};
}
}  // namespace detail

}  // namespace box
