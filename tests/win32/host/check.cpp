#include "check.h"

#include <windows.h>

namespace check {
namespace {
volatile LONG failures = 0;

LONG WINAPI Crashed(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "CRASH: exception %08lx at %p\n", info->ExceptionRecord->ExceptionCode,
               info->ExceptionRecord->ExceptionAddress);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

void ReportCrashes() { SetUnhandledExceptionFilter(&Crashed); }

int Failures() { return failures; }

void Fail(const char* file, int line, const std::string& what) {
  InterlockedIncrement(&failures);
  const char* name = file;
  for (const char* p = file; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  std::fprintf(stderr, "%s:%d: %s\n", name, line, what.c_str());
  std::fflush(stderr);
}

}  // namespace check
