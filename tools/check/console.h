// What the check program needs from where it runs: a console to write to and
// to read an answer from, the performance counter, and the operator's wish to
// stop. The Windows console is one; the tests bring their own.
#pragma once

#include <cstdint>
#include <string>

class Console {
 public:
  virtual ~Console() = default;

  // Text as it is, to standard output.
  virtual void Print(const std::string& text) = 0;
  // Asks a question on the console; true only for an explicit yes.
  virtual bool Confirm(const std::string& question) = 0;
  // The performance counter in milliseconds; any thread may ask.
  virtual double NowMs() = 0;
  // When the report just written reached the box, asked on the writing thread
  // right after the write: the performance counter then, unless the box keeps
  // a time of its own.
  virtual double ReportTimeMs() { return NowMs(); }
  virtual void Sleep(uint32_t ms) = 0;
  // What the operator did to stop the run ("Ctrl-C", "Ctrl-Break", "closing
  // the console window"), or nullptr while nothing.
  virtual const char* StopRequest() = 0;
  // A file name in the current folder as a full path.
  virtual std::string FullPath(const char* name) = 0;
};
