#include "tools/check/win32/win32_console.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// What the operator did, as the handler saw it: 0 nothing, else the event + 1.
volatile LONG stopEvent = 0;
// Set by Done; a close waits for it.
HANDLE done = nullptr;
// The system ends the process about 5 s after a close of the console, and at
// once when the handler returns: the run gets most of that to release the lines.
constexpr DWORD kCloseWaitMs = 4000;

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
  InterlockedCompareExchange(&stopEvent, static_cast<LONG>(event) + 1, 0);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && done != nullptr) {
    WaitForSingleObject(done, kCloseWaitMs);
  }
  return TRUE;
}

Win32Console::Win32Console() {
  QueryPerformanceFrequency(&frequency_);
  stopEvent = 0;
  done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

Win32Console::~Win32Console() {
  Done();
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  if (done != nullptr) CloseHandle(done);
  done = nullptr;
}

void Win32Console::Done() {
  if (done != nullptr) SetEvent(done);
}

void Win32Console::Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

bool Win32Console::Confirm(const std::string& question) {
  Print(question);
  char answer[64];
  // Ctrl-C while reading ends the read as if the input had ended.
  if (std::fgets(answer, sizeof answer, stdin) == nullptr || StopRequest() != nullptr) {
    Print("\n");
    return false;
  }
  size_t length = std::strcspn(answer, "\r\n");
  answer[length] = '\0';
  for (char* c = answer; *c != '\0'; ++c) {
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  return std::strcmp(answer, "y") == 0 || std::strcmp(answer, "yes") == 0;
}

double Win32Console::NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
}

void Win32Console::Sleep(uint32_t ms) { ::Sleep(ms); }

const char* Win32Console::StopRequest() {
  switch (stopEvent - 1) {
    case -1:
      return nullptr;
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
      return "closing the console window";
    default:
      return "the end of the Windows session";
  }
}

std::string Win32Console::FullPath(const char* name) {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetFullPathNameA(name, static_cast<DWORD>(path.size()), path.data(), nullptr);
    if (length == 0) return name;
    if (length < path.size()) return std::string(path.data(), length);
    path.resize(length);
  }
}
