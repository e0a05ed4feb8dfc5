// A host that ends its process while an instance is open and its clock runs:
// the module's unload notification then comes with the other threads gone,
// and must neither hang nor crash. (FreeLibrary without extfskClose is in the
// scenarios of e2e_unload.cpp.)
//
// usage: exit_host <module>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using OpenFn = int(WINAPI*)(int);
using SetPttFn = int(WINAPI*)(int);

// Wine reaches the Unix file system through drive Z:.
std::string WindowsPath(const char* path) {
  std::string result = path[0] == '/' ? std::string("Z:") + path : std::string(path);
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

// A crash on any thread (a timer callback into the unloaded module) is a
// failure, not a debugger session.
LONG WINAPI Crashed(EXCEPTION_POINTERS* info) {
  std::printf("FAIL: exception %08lx at %p\n", info->ExceptionRecord->ExceptionCode,
              info->ExceptionRecord->ExceptionAddress);
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

int Fail(const char* what) {
  std::printf("FAIL: %s (error %lu)\n", what, GetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: exit_host <module>");
  SetUnhandledExceptionFilter(Crashed);

  // The settings come from the file, so no prompt waits for a user.
  if (FILE* ini = std::fopen("tarvokey.ini", "w")) {
    std::fputs("FskRev=0\nFskPin=1\n", ini);
    std::fclose(ini);
  }

  HMODULE module = LoadLibraryA(WindowsPath(argv[1]).c_str());
  if (module == nullptr) return Fail("LoadLibrary");
  // Through void*, as GetProcAddress's type says nothing of the signature.
  auto open =
      reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(module, "extfskOpen")));
  auto setPtt =
      reinterpret_cast<SetPttFn>(reinterpret_cast<void*>(GetProcAddress(module, "extfskSetPTT")));
  if (open == nullptr || setPtt == nullptr) return Fail("GetProcAddress");
  if (open(0x002D0016) != 1) return Fail("extfskOpen");
  setPtt(1);
  Sleep(200);  // the clock ticks on winmm's thread meanwhile

  std::printf("ending the process with the instance open\n");
  std::fflush(stdout);
  ExitProcess(0);
}
