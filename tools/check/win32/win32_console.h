// The Windows console the check program runs in.
#pragma once

#include <windows.h>

#include "tools/check/console.h"

// One per process: it catches Ctrl-C, Ctrl-Break and the console's close from
// its construction on, so that a run ends with the lines released instead of
// the process ending under it.
class Win32Console : public Console {
 public:
  Win32Console();
  ~Win32Console() override;
  Win32Console(const Win32Console&) = delete;
  Win32Console& operator=(const Win32Console&) = delete;

  void Print(const std::string& text) override;
  void PrintUtf8(const std::string& text) override;
  int Columns() override;
  std::string Ask(const std::string& question) override;
  double NowMs() override;
  void Sleep(uint32_t ms) override;
  Stop StopRequest() override;
  std::string FullPath(const char* name) override;
  std::string BoxLocation(const std::string& devicePath) override;
  bool JapaneseUser() override;
  std::vector<StatusEntry> ReadStatuses() override;
  bool EnterPressed() override;
  void ShowLive(const std::string& panel) override;
  void EndLive() override;
  bool OwnConsole() override;
  void WaitForEnter() override;

  // The program is done with the box: a close of the console waiting in the
  // handler may now let the system end the process.
  void Done();

 private:
  void WriteBytes(const std::string& bytes);

  LARGE_INTEGER frequency_;
  HANDLE out_;
  HANDLE in_;
  bool outIsConsole_;
  bool inIsConsole_;
  // Of redirected text (TextCodePage).
  UINT codePage_;
  // The screen buffer --watch draws on, while it does.
  HANDLE live_ = nullptr;
  bool liveRefused_ = false;
  // Reads input that is not a console, for EnterPressed.
  HANDLE inputReader_ = nullptr;
};

// The console control handler, as the system calls it: on a thread of its own.
BOOL WINAPI OnConsoleControl(DWORD event);
