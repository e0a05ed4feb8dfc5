// What the check program needs from where it runs: a console to write to and
// to read an answer from, the performance counter, the operator's wish to
// stop, the user's language, and the status sections of the programs that have
// tarvokey.fsk open. The Windows console is one; the tests bring their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "status/status_reader.h"
#include "tools/check/text.h"

// What the operator did to stop a run.
enum class Stop { None, CtrlC, CtrlBreak, CloseWindow, EndSession };

// One status section found: the pid in its name, and what reading it gave.
struct StatusEntry {
  StatusEntry() = default;
  StatusEntry(uint32_t sectionPid, const status::ReadResult& result)
      : pid(sectionPid), read(result) {}

  uint32_t pid = 0;
  status::ReadResult read;
  // The section is there but this user may not read it: the program runs as
  // administrator (or as another user). Its name, from the process list.
  bool accessDenied = false;
  std::string exe;
};

class Console {
 public:
  virtual ~Console() = default;

  // UTF-8 text, to standard output: on a console as the characters it
  // holds, whatever the console's code page; redirected, in the code page
  // the PC reads text files in (the Windows console says which).
  virtual void Print(const std::string& text) = 0;
  // A document that is UTF-8 wherever it goes (JSON).
  virtual void PrintUtf8(const std::string& text) { Print(text); }
  // How wide a line of text may be: the console's width less its last
  // column (see kConsoleColumns; the narrowest console's when the width
  // cannot be had); with the output in a file or a pipe, any.
  virtual int Columns() { return kConsoleColumns; }
  // Asks a question on the console: the line the operator typed, in UTF-8;
  // empty when the input ends or the operator stops the program.
  virtual std::string Ask(const std::string& question) = 0;
  // The performance counter in milliseconds; any thread may ask.
  virtual double NowMs() = 0;
  // When the report just written reached the box, asked on the writing thread
  // right after the write: the performance counter then, unless the box keeps
  // a time of its own.
  virtual double ReportTimeMs() { return NowMs(); }
  virtual void Sleep(uint32_t ms) = 0;
  virtual Stop StopRequest() = 0;
  // A file name in the current folder as a full path, in UTF-8.
  virtual std::string FullPath(const char* name) = 0;
  // Where the box at this device path is plugged in, as Windows names the
  // USB port ("Port_#0002.Hub_#0001"), in UTF-8; "" where it does not say.
  virtual std::string BoxLocation(const std::string& devicePath) {
    static_cast<void>(devicePath);
    return {};
  }

  // Whether the user's language is Japanese.
  virtual bool JapaneseUser() { return false; }

  // The status section of every process that has an instance open, found and
  // read anew at each call: no view is kept between calls.
  virtual std::vector<StatusEntry> ReadStatuses() = 0;
  // Whether Enter was pressed since the last call; never waits.
  virtual bool EnterPressed() { return false; }
  // Shows a panel in place of the one shown before, where the output is a
  // console; else one after another.
  virtual void ShowLive(const std::string& panel) { Print(panel + "\n"); }
  // Back to the ordinary output after the last panel.
  virtual void EndLive() {}

  // Whether the console is this program's alone (started by a double-click,
  // it closes with the program) and shows its output: the program then waits
  // for Enter before it ends, so that its output can be read.
  virtual bool OwnConsole() { return false; }
  // Until Enter is pressed or the input ends.
  virtual void WaitForEnter() {}
};
