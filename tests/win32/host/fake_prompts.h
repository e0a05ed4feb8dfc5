// The plug-in's message boxes, faked: MessageBoxA and MessageBoxW record what
// they were asked and answer as a test scripts them, after a delay if asked
// (a user reading the prompt).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace box {

struct Prompt {
  double startMs;
  double endMs;
  DWORD threadId;
  HWND owner;
  std::string text;  // MessageBoxA: bytes as passed (Shift_JIS)
  std::string caption;
  UINT style;
  int answer;
  bool wide;  // MessageBoxW: text and caption are these
  std::wstring wideText;
  std::wstring wideCaption;
};

// Answers for the next prompts, in order. A prompt with no answer left is a
// fault and is answered IDCANCEL.
void AnswerPrompts(const std::vector<int>& answers);
// How long each prompt stays open before it is answered.
void SetPromptDelay(DWORD ms);
std::vector<Prompt> Prompts();
// Until a prompt has begun; false on timeout.
bool WaitForPrompt(DWORD timeoutMs);

}  // namespace box
