// tarvokey-check.exe: a console program shipped beside tarvokey.fsk.
#include <exception>
#include <string>
#include <vector>

#include "tools/check/check.h"
#include "tools/check/text.h"
#include "tools/check/win32/win32_console.h"

int main(int argc, char** argv) {
  Win32Console console;
  int status = kExitNoBox;
  try {
    // The C runtime hands over the arguments in the ANSI code page.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(FromAnsi(argv[i]));
    status = RunCheck(args, console);
  } catch (const std::exception&) {
    // Only memory can run out here; the plug-in's close has run on the way out.
    console.Print("tarvokey-check: out of memory.\n");
  }
  console.Done();
  return status;
}
